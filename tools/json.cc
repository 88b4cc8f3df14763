#include "tools/json.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

namespace tools {

// The containers still open, outermost first, each with the key it will
// take in its parent, and the key the next value takes.
struct Json::Tree {
    struct Open {
        nlohmann::ordered_json value;
        std::string key;
    };
    std::vector<Open> open;
    std::string pending_key;
    nlohmann::ordered_json done;

    void begin(nlohmann::ordered_json container) {
        open.push_back({std::move(container), std::move(pending_key)});
    }
    void end() {
        Open closed = std::move(open.back());
        open.pop_back();
        pending_key = std::move(closed.key);
        add(std::move(closed.value));
    }
    void add(nlohmann::ordered_json v) {
        if (open.empty()) {
            done = std::move(v);
        } else if (open.back().value.is_array()) {
            open.back().value.push_back(std::move(v));
        } else {
            open.back().value[pending_key] = std::move(v);
        }
    }
};

Json::Json() : tree_(std::make_unique<Tree>()) {}
Json::~Json() = default;

Json& Json::begin_object() {
    tree_->begin(nlohmann::ordered_json::object());
    return *this;
}

Json& Json::begin_array() {
    tree_->begin(nlohmann::ordered_json::array());
    return *this;
}

Json& Json::end_object() {
    tree_->end();
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
