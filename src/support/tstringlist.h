// An ordered list of texts with count, index access, clear and append;
// duplicates allowed. The registry layer fills it with names; the cleaning
// run's working lists are of this kind.
#pragma once

#include <string>
#include <utility>
#include <vector>

class TStringList {
public:
    int count() const { return static_cast<int>(items_.size()); }
    const std::string& operator[](int index) const { return items_[static_cast<size_t>(index)]; }
    void clear() { items_.clear(); }
    void append(const std::string& text) { items_.push_back(text); }
    void append(std::string&& text) { items_.push_back(std::move(text)); }
    // Room for `count` texts, so that filling the list moves none of them.
    void reserve(int count) { items_.reserve(static_cast<size_t>(count)); }

private:
    std::vector<std::string> items_;
};
