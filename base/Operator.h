#pragma once

#include <QString>

namespace merival {

// French guillemets stay with the words they enclose when a message is wrapped.
[[nodiscard]] inline QString KeepGuillemets(QString text) {
    return text.replace(QStringLiteral("« "), QStringLiteral("«\u00A0"))
        .replace(QStringLiteral(" »"), QStringLiteral("\u00A0»"));
}

enum class OperatorIcon { Information, Exclamation, Error, Question };

// The person in front of the program. The real one beeps and shows message boxes; tests
// script the answers, so no test ever blocks on a modal box.
class Operator {
public:
    virtual ~Operator() = default;
    virtual void beep() = 0;
    // A message with a single OK button.
    virtual void message(const QString& text, const QString& title, OperatorIcon icon) = 0;
    // A Yes/No question; true means Yes.
    virtual bool askYesNo(const QString& text, const QString& title, OperatorIcon icon) = 0;
};

}  // namespace merival
