#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

#include "base/Operator.h"

namespace merival::test {

// Records what the program told the operator and answers questions from a script
// (default answer when the script is empty: No).
class ScriptedOperator : public Operator {
public:
    struct Shown {
        QString text;
        QString title;
        OperatorIcon icon;
        bool question;
    };

    void beep() override { ++beeps; }
    void message(const QString& text, const QString& title, OperatorIcon icon) override {
        shown.push_back({text, title, icon, false});
    }
    bool askYesNo(const QString& text, const QString& title, OperatorIcon icon) override {
        shown.push_back({text, title, icon, true});
        if (duringQuestion) {
            duringQuestion();
        }
        if (answers.empty()) {
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }

    [[nodiscard]] QStringList texts() const {
        QStringList list;
        for (const auto& s : shown) {
            list << s.text;
        }
        return list;
    }

    int beeps = 0;
    std::vector<Shown> shown;
    std::deque<bool> answers;
    // Runs while a question is on screen, as events do under a real box.
    std::function<void()> duringQuestion;
};

}  // namespace merival::test
