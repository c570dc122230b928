#pragma once

#include <string_view>

#include "Log.h"

class QPlainTextEdit;

namespace velkor {

// The command log shown in the window's text box. Each line is painted as it
// arrives, so a long Write shows its progress, but no events are processed:
// a command still takes no input until it has finished.
class MemoLog final : public Log {
public:
    explicit MemoLog(QPlainTextEdit& memo) : memo_(memo) {}

    void Clear() override;

protected:
    void AppendLine(std::string_view line) override;

private:
    QPlainTextEdit& memo_;
    bool holdsLines_ = false;  // an empty line leaves the text empty, so count it here
};

}  // namespace velkor
