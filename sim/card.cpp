// SPDX-License-Identifier: MIT
#include "card.h"

#include <algorithm>

namespace vr {

ScriptedCard &ScriptedCard::on(const std::string &prefix, const std::string &answer) {
    return on(prefix, std::vector<std::string>{answer});
}

ScriptedCard &ScriptedCard::on(const std::string &prefix, const std::vector<std::string> &answers) {
    Rule rule{hex(prefix), {}};
    for (const auto &a : answers) rule.answers.push_back(hex(a));
    rules_.push_back(std::move(rule));
    return *this;
}

Bytes ScriptedCard::transmit(const Bytes &command) {
    for (auto it = rules_.rbegin(); it != rules_.rend(); ++it) {
        if (command.size() < it->prefix.size() ||
            !std::equal(it->prefix.begin(), it->prefix.end(), command.begin()))
            continue;
        if (it->answers.empty()) break;
        Bytes answer = it->answers.front();
        if (it->answers.size() > 1) it->answers.pop_front();
        return answer;
    }
    return hex("6D 00");
}

}  // namespace vr
