#include "net/Dav.h"

#include <cctype>
#include <charconv>

#include "support/Escaping.h"

namespace pelkora::net {
namespace {

std::string strongForm(std::string_view etag) {
    return std::string(etag.starts_with("W/") ? etag.substr(2) : etag);
}

}  // namespace

std::string_view localName(const pugi::xml_node& node) {
    const std::string_view name = node.name();
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view namespaceOf(const pugi::xml_node& node) {
    const std::string_view name = node.name();
    const auto colon = name.find(':');
    const std::string attribute =
        colon == std::string_view::npos ? "xmlns" : "xmlns:" + std::string(name.substr(0, colon));
    for (auto ancestor = node; ancestor; ancestor = ancestor.parent()) {
        if (const auto declaration = ancestor.attribute(attribute.c_str()))
            return declaration.value();
    }
    return {};
}

bool isElement(const pugi::xml_node& node, std::string_view ns, std::string_view name) {
    return node.type() == pugi::node_element && localName(node) == name && namespaceOf(node) == ns;
}

pugi::xml_node childElement(const pugi::xml_node& node, std::string_view ns,
                            std::string_view name) {
    for (const auto child : node.children()) {
        if (isElement(child, ns, name)) return child;
    }
    return {};
}

std::string trimmedText(const pugi::xml_node& node) {
    std::string_view text = node.text().get();
    const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return std::string(text);
}

pugi::xml_node MultiStatus::Response::property(std::string_view ns, std::string_view name) const {
    for (const auto& node : properties) {
        if (isElement(node, ns, name)) return node;
    }
    return {};
}

std::optional<MultiStatus> MultiStatus::parse(std::string_view xml) {
    MultiStatus answer;
    answer.document_ = std::make_shared<pugi::xml_document>();
    if (!answer.document_->load_buffer(xml.data(), xml.size())) return std::nullopt;
    const auto root = answer.document_->document_element();
    if (!isElement(root, kDavNamespace, "multistatus")) return std::nullopt;
    for (const auto child : root.children()) {
        if (isElement(child, kDavNamespace, "sync-token")) {
            answer.syncToken_ = trimmedText(child);
            continue;
        }
        if (!isElement(child, kDavNamespace, "response")) continue;
        Response response;
        response.href = trimmedText(childElement(child, kDavNamespace, "href"));
        if (const auto status = childElement(child, kDavNamespace, "status"))
            response.status = statusCode(trimmedText(status));
        for (const auto propstat : child.children()) {
            if (!isElement(propstat, kDavNamespace, "propstat")) continue;
            if (statusCode(trimmedText(childElement(propstat, kDavNamespace, "status"))) / 100 != 2)
                continue;
            for (const auto property : childElement(propstat, kDavNamespace, "prop").children())
                if (property.type() == pugi::node_element) response.properties.push_back(property);
        }
        answer.responses_.push_back(std::move(response));
    }
    return answer;
}

long statusCode(std::string_view statusLine) {
    const auto space = statusLine.find(' ');
    if (space == std::string_view::npos) return 0;
    statusLine.remove_prefix(space + 1);
    long code = 0;
    std::from_chars(statusLine.data(), statusLine.data() + statusLine.size(), code);
    return code;
}

std::string percentEncode(std::string_view text) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHexDigits[byte >> 4];
            encoded += kHexDigits[byte & 0xF];
        }
    }
    return encoded;
}

std::string percentDecode(std::string_view text) {
    return percentDecoded(text);
}

bool isWeakETag(std::string_view etag) {
    return etag.starts_with("W/");
}

bool sameETagVersion(std::string_view first, std::string_view second) {
    return !first.empty() && strongForm(first) == strongForm(second);
}

}  // namespace pelkora::net
