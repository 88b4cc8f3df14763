#include "tools/json.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

namespace tools {

// The values still open, outermost first, and the key the next value takes.
struct Json::Tree {
    std::vector<nlohmann::ordered_json> open;
    std::string pending_key;
    nlohmann::ordered_json done;

    void add(nlohmann::ordered_json v) {
        if (open.empty()) {
            done = std::move(v);
        } else if (open.back().is_array()) {
            open.back().push_back(std::move(v));
        } else {
            open.back()[pending_key] = std::move(v);
        }
    }
};

Json::Json() : tree_(std::make_unique<Tree>()) {}
Json::~Json() = default;

Json& Json::begin_object() {
    tree_->open.push_back(nlohmann::ordered_json::object());
    return *this;
}

Json& Json::begin_array() {
    tree_->open.push_back(nlohmann::ordered_json::array());
    return *this;
}

Json& Json::end_object() {
    nlohmann::ordered_json closed = std::move(tree_->open.back());
    tree_->open.pop_back();
    tree_->add(std::move(closed));
    return *this;
}

Json& Json::end_array() { return end_object(); }

Json& Json::key(std::string_view name) {
    tree_->pending_key = name;
    return *this;
}

Json& Json::value(std::string_view text) {
    tree_->add(std::string(text));
    return *this;
}

Json& Json::value(uint64_t number) {
    tree_->add(number);
    return *this;
}

Json& Json::value(int64_t number) {
    tree_->add(number);
    return *this;
}

Json& Json::value(double number) {
    tree_->add(std::isfinite(number) ? nlohmann::ordered_json(number) : nlohmann::ordered_json());
    return *this;
}

Json& Json::value(bool flag) {
    tree_->add(flag);
    return *this;
}

Json& Json::number(std::string_view token) {
    tree_->add(token.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json::parse(token));
    return *this;
}

const std::string& Json::text() const {
    text_ = tree_->done.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    return text_;
}

}  // namespace tools
