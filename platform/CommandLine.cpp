#include "platform/CommandLine.h"

namespace qel::platform {

ArgReader::ArgReader(const std::vector<std::string>& args) {
    bool options = true;
    for (const std::string& a : args) {
        if (options && a == "--") {
            options = false;
            continue;
        }
        const bool option = options && a.size() > 1 && a[0] == '-';
        const size_t eq = a.find('=');
        if (option && a.starts_with("--") && eq != std::string::npos) {
            args_.push_back({a.substr(0, eq), true, false});
            args_.push_back({a.substr(eq + 1), false, true});
        } else {
            args_.push_back({a, option, false});
        }
    }
}

bool ArgReader::NextIsOption() const {
    return !Done() && args_[pos_].option;
}

void ArgReader::CheckInlineUsed() const {
    if (!Done() && args_[pos_].inlineValue)
        throw CommandLineError(lastOption_ + " takes no value");
}

std::string ArgReader::Take() {
    CheckInlineUsed();
    const Arg& a = args_.at(pos_++);
    inline_ = false;
    if (a.option) {
        lastOption_ = a.text;
        inline_ = !Done() && args_[pos_].inlineValue;
    }
    return a.text;
}

std::string ArgReader::Value(const std::string& option, const std::string& what) {
    if (Done())
        throw CommandLineError(option + " needs " + what);
    const Arg& a = args_[pos_];
    if (a.option)
        throw CommandLineError(option + " needs " + what + ", not the option '" + a.text +
                               "' (a file of that name is written ./" + a.text + ")");
    ++pos_;
    inline_ = false;
    return a.text;
}

}  // namespace qel::platform
