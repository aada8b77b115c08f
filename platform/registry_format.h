// The registry's text form: the tree of keys and values that one .reg file
// holds, and the file's syntax. Names compare case-insensitively (foldCase).
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/registry.h"

namespace registry {

// Index 0 is HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, as RegistryKey::root.
extern const char16_t* const kRootNames[2];

// A value this large is certainly not a setting; refusing it keeps the file
// small enough that it can always be read back in full.
constexpr std::size_t kMaxValueBytes = 1u << 20;
// Deep enough for any real key; it bounds the recursion over the key tree.
constexpr std::size_t kMaxDepth = 512;

char16_t foldCase(char16_t c);
// Names that could not be written back into the file as they are.
bool writableName(const std::u16string& name);

struct Value {
    std::u16string name;  // empty for the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

std::u16string folded(const std::u16string& name);

// A key with its values and subkeys in file order. The indexes by folded name
// keep loading a file with many entries linear rather than quadratic.
class Node {
public:
    Node() = default;
    explicit Node(std::u16string name) : name_(std::move(name)) {}

    const std::u16string& name() const { return name_; }
    const std::vector<Value>& values() const { return values_; }
    const std::vector<Node>& children() const { return children_; }

    Node* child(const std::u16string& wanted) {
        auto it = childIndex_.find(folded(wanted));
        return it == childIndex_.end() ? nullptr : &children_[it->second];
    }
    Node& addChild(const std::u16string& name) {
        if (Node* existing = child(name)) return *existing;
        childIndex_.emplace(folded(name), children_.size());
        children_.emplace_back(name);
        return children_.back();
    }
    bool removeChild(const std::u16string& name) {
        auto it = childIndex_.find(folded(name));
        if (it == childIndex_.end()) return false;
        children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(it->second));
        childIndex_.clear();
        for (std::size_t i = 0; i < children_.size(); ++i) childIndex_.emplace(folded(children_[i].name_), i);
        return true;
    }

    const Value* value(const std::u16string& wanted) const {
        auto it = valueIndex_.find(folded(wanted));
        return it == valueIndex_.end() ? nullptr : &values_[it->second];
    }
    // An existing value keeps the name it was created with.
    void putValue(Value value) {
        auto it = valueIndex_.find(folded(value.name));
        if (it != valueIndex_.end()) {
            values_[it->second].type = value.type;
            values_[it->second].data = std::move(value.data);
            return;
        }
        valueIndex_.emplace(folded(value.name), values_.size());
        values_.push_back(std::move(value));
    }
    bool removeValue(const std::u16string& name) {
        auto it = valueIndex_.find(folded(name));
        if (it == valueIndex_.end()) return false;
        values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(it->second));
        valueIndex_.clear();
        for (std::size_t i = 0; i < values_.size(); ++i) valueIndex_.emplace(folded(values_[i].name), i);
        return true;
    }

private:
    std::u16string name_;
    std::vector<Value> values_;
    std::vector<Node> children_;
    std::unordered_map<std::u16string, std::size_t> valueIndex_;
    std::unordered_map<std::u16string, std::size_t> childIndex_;
};

// The whole store: the top node's children are the roots, named in full.
struct Store {
    Node top;
};

// The key below root at path; null when it is missing.
Node* findKey(Store& store, int root, const std::vector<std::u16string>& path);

// Reads the whole text of a .reg file into store; false when the file is not
// one this store can read without losing something.
bool parseStore(const std::string& bytes, Store& store);
std::string serialiseStore(const Store& store);

}  // namespace registry
