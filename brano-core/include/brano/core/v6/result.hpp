#pragma once

// Result stacks: failures as values. An operation that fails pushes an item
// (a category and a code, plus named text arguments) onto the caller's stack.

#include <string>
#include <vector>

namespace brano::core {
inline namespace v6 {
namespace result {

// Base of every status category. One object per class lives for the whole
// process; items refer to it by reference.
class category {
public:
    category() = default;
    category(category const&) = delete;
    category& operator=(category const&) = delete;
    virtual ~category();

    virtual char const* name() const noexcept = 0;
    virtual char const* message(int code) const = 0;

    // Reports a code that is not in the category's table and ends the process.
    [[noreturn]] void show_invalid_value_message_and_exit(int code) const;
};

class argument {
public:
    argument(std::string name, std::string value);

    std::string const& get_name() const noexcept { return name_; }
    std::string const& get_value() const noexcept { return value_; }

private:
    friend class item;
    std::string name_;
    std::string value_;
};

class argument_range {
public:
    using const_iterator = std::vector<argument>::const_iterator;

    explicit argument_range(std::vector<argument> const& arguments) : arguments_(&arguments) {}
    const_iterator begin() const noexcept { return arguments_->begin(); }
    const_iterator end() const noexcept { return arguments_->end(); }
    std::size_t size() const noexcept { return arguments_->size(); }
    bool empty() const noexcept { return arguments_->empty(); }

private:
    std::vector<argument> const* arguments_;
};

class item {
public:
    item(category const& cat, int code);

    // Attaches a named argument; an argument of the same name is replaced.
    item& set_argument(std::string const& name, std::string value);

    category const& get_category() const noexcept { return *category_; }
    int get_code() const noexcept { return code_; }
    std::string get_message() const;
    argument_range get_argument_range() const noexcept { return argument_range(arguments_); }
    // The value of the named argument, or nullptr when the item has none.
    std::string const* find_argument(std::string const& name) const noexcept;

private:
    category const* category_;
    int code_;
    std::vector<argument> arguments_;
};

class stack {
public:
    using const_iterator = std::vector<item>::const_iterator;

    // Adds an item and returns it so that arguments can be attached.
    // The reference stays valid until the next push, reset or assignment.
    item& push_item(category const& cat, int code);

    bool has_failed() const noexcept { return !items_.empty(); }
    void reset() noexcept { items_.clear(); }

    // The code and message that stand for the whole stack: those of the
    // first item, where the failure was first seen. 0 and "" when clean.
    int get_value() const noexcept;
    std::string get_message() const;

    std::size_t size() const noexcept { return items_.size(); }
    const_iterator begin() const noexcept { return items_.begin(); }
    const_iterator end() const noexcept { return items_.end(); }

private:
    std::vector<item> items_;
};

} // namespace result
} // namespace v6
} // namespace brano::core
