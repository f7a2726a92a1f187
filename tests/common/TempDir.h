#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace merival::test {

// A fresh temporary directory that is the current directory for the object's lifetime.
class CurrentTempDir {
public:
    CurrentTempDir() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~CurrentTempDir() { QDir::setCurrent(previous_); }
    CurrentTempDir(const CurrentTempDir&) = delete;
    CurrentTempDir& operator=(const CurrentTempDir&) = delete;

    [[nodiscard]] QString path() const { return dir_.path(); }
    [[nodiscard]] QString filePath(const QString& name) const { return dir_.filePath(name); }

    bool write(const QString& name, const QByteArray& bytes) const {
        QFile f(filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    [[nodiscard]] QByteArray read(const QString& name) const {
        QFile f(filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
    QString previous_;
};

}  // namespace merival::test
