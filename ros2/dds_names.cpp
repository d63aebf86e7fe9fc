#include "ros2/dds_names.h"

#include <cstdio>
#include <cstdlib>

namespace tx710::ros2 {

namespace {

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::string quoted(const std::string& value)
{
    constexpr std::size_t kShown = 40;
    std::string text = "'";
    for (std::size_t i = 0; i < value.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '\'') {
            text += char(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    if (value.size() > kShown)
        text += "...";
    return text + "'";
}

bool readEnvironment(DdsEnvironment& environment, std::string& error)
{
    environment = DdsEnvironment();
    const std::string domain = environmentValue("ROS_DOMAIN_ID");
    if (!domain.empty()) {
        std::uint32_t value = 0;
        bool valid = domain.size() <= 3;
        for (char c : domain)
            valid = valid && isDigit(c);
        if (valid)
            value = std::uint32_t(std::strtoul(domain.c_str(), nullptr, 10));
        if (!valid || value > kMaxDomain) {
            error =
                "ROS_DOMAIN_ID must be a whole number from 0 to " + std::to_string(kMaxDomain) + ": " + quoted(domain);
            return false;
        }
        environment.domain = value;
    }
    const std::string range = environmentValue("ROS_AUTOMATIC_DISCOVERY_RANGE");
    if (!range.empty())
        environment.localhost_only = range == "LOCALHOST" || range == "OFF";
    else
        environment.localhost_only = environmentValue("ROS_LOCALHOST_ONLY") == "1";
    return true;
}

bool qualifyNamespace(const std::string& ros_namespace, std::string& qualified, std::string& error)
{
    std::string name = ros_namespace;
    if (!name.empty() && name.front() == '/')
        name.erase(0, 1);
    qualified.clear();
    if (name.empty())
        return true;
    bool token_start = true;
    bool valid = name.size() <= 200;
    for (char c : name) {
        if (c == '/') {
            valid = valid && !token_start;
            token_start = true;
        } else {
            valid = valid && (isLetter(c) || (isDigit(c) && !token_start));
            token_start = false;
        }
    }
    if (!valid || token_start) {
        error = "--ros2-namespace needs names of letters, digits and '_' joined by '/': " + quoted(ros_namespace);
        return false;
    }
    qualified = "/" + name;
    return true;
}

std::string ddsTopicName(const std::string& qualified_namespace, const std::string& name)
{
    return "rt" + qualified_namespace + "/" + name;
}

} // namespace tx710::ros2
