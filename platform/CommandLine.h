// The command-line reader both console tools share: options anywhere among
// the arguments, "--name=value" the same as "--name value", "--" ends the
// options, and a value never taken from the next option by mistake.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace qel::platform {

class CommandLineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class ArgReader {
  public:
    explicit ArgReader(const std::vector<std::string>& args);

    bool Done() const { return pos_ >= args_.size(); }
    // The next argument is an option ("-x", "--name"; not "-", not after "--").
    bool NextIsOption() const;
    // Takes the next argument. Throws when the option taken before had an
    // "=value" that it did not use.
    std::string Take();
    // The value of `option`: its "=value", else the next argument. Throws
    // when there is none, or when the next argument is an option (a file of
    // such a name is written ./--name).
    std::string Value(const std::string& option, const std::string& what);
    // Whether the option just taken came with "=value".
    bool HasInlineValue() const { return inline_; }

  private:
    struct Arg {
        std::string text;
        bool option = false;
        bool inlineValue = false;  // the "value" of "--name=value"
    };
    void CheckInlineUsed() const;

    std::vector<Arg> args_;
    size_t pos_ = 0;
    bool inline_ = false;
    std::string lastOption_;
};

}  // namespace qel::platform
