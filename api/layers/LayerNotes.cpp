// SPDX-License-Identifier: LGPL-2.1-or-later
#include "layers/LayerNotes.h"

#include <algorithm>
#include <cstring>

#include "layers/ILayerDiagnostics.h"
#include "layers/ParserContext.h"

namespace vesk::legacy {

namespace {

const char kPrefix[] = "zel:";
const size_t kPrefixLength = sizeof kPrefix - 1;
const char* const kNodeWords[] = {"name", "type", "op", "finalized", nullptr};
const char* const kValueWords[] = {"separator", nullptr};

bool isPrefixed(const char* name) {
    return std::strncmp(name, kPrefix, kPrefixLength) == 0;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string unknownAttributeMessage(const std::string& attribute, const std::string& where) {
    if (attribute == "zel:finalised") {
        return "zel:finalised on " + where +
               " is a word of tree files, not of layers: nothing is finalised "
               "(write zel:finalized=\"true\")";
    }
    if (attribute == "zel:readonly") {
        return "zel:readonly on " + where +
               " is a word of tree files, not of layers: it is ignored";
    }
    return "unknown attribute " + attribute + " on " + where + " is ignored";
}

}  // namespace

LayerNotes::LayerNotes(ILayerDiagnostics& sink) : mSink(sink) {}

void LayerNotes::finding(int line, const std::string& message) {
    mSink.onFinding(line, 0, message);
}

LayerNotes::Frame* LayerNotes::innermostNode() {
    for (auto it = mFrames.rbegin(); it != mFrames.rend(); ++it) {
        if (it->kind == Kind::Structural || it->kind == Kind::Property) {
            return &*it;
        }
    }
    return nullptr;
}

void LayerNotes::reportIgnoredContent(Frame& frame, int line, const std::string& what) {
    if (frame.contentReported) {
        return;
    }
    frame.contentReported = true;
    const std::string owner = "<" + frame.element + "> " + quoted(frame.name);
    if (frame.removed) {
        finding(line, what + " inside the removed " + owner + " (line " +
                          std::to_string(frame.line) + ") is ignored: a removal takes no content");
    } else {
        finding(line, what + " inside " + owner + " (line " + std::to_string(frame.line) +
                          ") is ignored: a property holds values, not nodes");
    }
}

void LayerNotes::reportUnprefixed(const char* const* attributes, const char* const* words,
                                  const std::string& where, int line) {
    for (const char* const* attribute = attributes; attribute != nullptr && *attribute != nullptr;
         attribute += 2) {
        for (const char* const* word = words; *word != nullptr; ++word) {
            if (std::strcmp(*attribute, *word) == 0) {
                finding(line, "attribute " + std::string(*attribute) + " on " + where +
                                  " is ignored: did you mean zel:" + *word + "?");
            }
        }
    }
}

void LayerNotes::dropped(const char* element, const char* const* attributes, int line) {
    std::string hint;
    for (const char* const* attribute = attributes; attribute != nullptr && *attribute != nullptr;
         attribute += 2) {
        if (std::strcmp(*attribute, "name") == 0) {
            hint = " (did you mean zel:name?)";
        }
    }
    finding(line, "<" + std::string(element) +
                      "> has no zel:name: the reader drops it with everything inside it" + hint);
}

void LayerNotes::startNode(Kind kind, const char* element, const char* const* attributes,
                           const NodeFields& fields, int line, bool outermost) {
    Frame frame{kind, element, "", line, false, false, false, {}};
    if (Frame* parent = innermostNode()) {
        frame.ignored = parent->ignored || parent->removed || parent->kind == Kind::Property;
        if (!parent->ignored && frame.ignored) {
            reportIgnoredContent(*parent, line, "<" + frame.element + ">");
        }
    }
    const std::string tag = "<" + frame.element + ">";
    frame.name = fields.name != nullptr ? ParserContext::attributeText(fields.name) : "";
    const std::string what = tag + " " + quoted(frame.name);
    if (fields.name != nullptr && frame.name.empty() && !outermost) {
        finding(line, tag + " has an empty zel:name");
    }
    if (!outermost && frame.name.find('/') != std::string::npos) {
        finding(line, what + ": a \"/\" in zel:name makes the node unreachable by its path");
    }
    for (const char* const* attribute = attributes; attribute != nullptr && *attribute != nullptr;
         attribute += 2) {
        if (isPrefixed(*attribute) && ParserContext::nodeAttributeOf(*attribute + kPrefixLength) ==
                                          ParserContext::NodeAttribute::Other) {
            finding(line, unknownAttributeMessage(*attribute, what));
        }
    }
    reportUnprefixed(attributes, kNodeWords, what, line);

    if (fields.operation != nullptr) {
        const std::string op = ParserContext::attributeText(fields.operation);
        frame.removed = op == "remove";
        if (!fields.knownOperation) {
            finding(line, "unknown operation zel:op=" + quoted(op) + " on " + what +
                              " is read as modify (operations: modify, replace, remove)");
        }
    }
    if (fields.type != nullptr && kind == Kind::Property && !fields.knownType) {
        const std::string typeName = ParserContext::attributeText(fields.type);
        std::string hint;
        if (typeName.compare(0, 3, "xs:") == 0 && typeName.size() > 5 &&
            typeName.compare(typeName.size() - 5, 5, "-list") == 0) {
            hint = " (list types are written zel:" + typeName.substr(3) + ")";
        }
        finding(line, "unknown type " + quoted(typeName) + " on " + what + " is read as xs:string" +
                          hint);
    }

    if (fields.finalised != nullptr && !frame.ignored) {
        const std::string value = ParserContext::attributeText(fields.finalised);
        if (value != "true") {
            if (value != "false") {
                finding(line, "zel:finalized=" + quoted(value) + " on " + what +
                                  " finalises nothing: only \"true\" does");
            }
        } else if (frame.removed) {
            finding(line, "finalising the removal " + what + " has no effect");
        } else {
            std::vector<std::string> names;
            bool first = true;
            for (const Frame& enclosing : mFrames) {
                if (enclosing.kind == Kind::Structural || enclosing.kind == Kind::Property) {
                    if (!first) {
                        names.push_back(enclosing.name);
                    }
                    first = false;
                }
            }
            if (!outermost) {
                names.push_back(frame.name);
            }
            mSink.onFinalisation(names, what, line);
        }
    }
    mFrames.push_back(std::move(frame));
}

void LayerNotes::startValue(const char* const* attributes, int line) {
    Frame frame{Kind::Value, "value", "", line, false, false, false, {}};
    Frame* property = innermostNode();
    if (property != nullptr) {
        frame.ignored = property->ignored || property->removed;
        if (!property->ignored && property->removed) {
            reportIgnoredContent(*property, line, "<value>");
        }
    }
    if (!frame.ignored && (property == nullptr || property->kind != Kind::Property)) {
        finding(line, "<value> outside a <prop> is ignored");
        frame.ignored = true;
    }
    std::string locale;
    for (const char* const* attribute = attributes; attribute != nullptr && *attribute != nullptr;
         attribute += 2) {
        if (std::strcmp(*attribute, "xml:lang") == 0) {
            locale = ParserContext::attributeText(attribute[1] != nullptr ? attribute[1] : "");
        } else if (isPrefixed(*attribute) &&
                   !ParserContext::isValueAttribute(*attribute + kPrefixLength)) {
            finding(line, unknownAttributeMessage(*attribute, "<value>"));
        }
    }
    reportUnprefixed(attributes, kValueWords, "<value>", line);
    if (!frame.ignored && property != nullptr) {
        // Without a locale the merger sets "default" (or the one value, which
        // a later localisation files under "default").
        if (locale.empty()) {
            locale = "default";
        }
        const auto found = property->locales.find(locale);
        if (found != property->locales.end()) {
            finding(line, "a second value for locale " + quoted(locale) + " in <prop> " +
                              quoted(property->name) + " (the first is on line " +
                              std::to_string(found->second) + "): only the last one counts");
        } else {
            property->locales.emplace(locale, line);
        }
    }
    mFrames.push_back(std::move(frame));
}

void LayerNotes::startOther(const char* element, int line) {
    const bool inValue = std::any_of(mFrames.begin(), mFrames.end(),
                                     [](const Frame& f) { return f.kind == Kind::Value; });
    if (!inValue) {
        finding(line, "unknown element <" + std::string(element) +
                          "> is ignored (layers use zel:component-data, node, group, set, prop "
                          "and value)");
    }
    mFrames.push_back(Frame{Kind::Other, element, "", line, false, false, true, {}});
}

void LayerNotes::endValue(const std::string& text) {
    if (mFrames.empty() || mFrames.back().kind != Kind::Value || mFrames.back().ignored) {
        return;
    }
    const char* const blanks = " \t\r\n";
    if (!text.empty() && (std::strchr(blanks, text.front()) != nullptr ||
                          std::strchr(blanks, text.back()) != nullptr)) {
        const Frame* property = nullptr;
        for (auto it = mFrames.rbegin(); it != mFrames.rend(); ++it) {
            if (it->kind == Kind::Property) {
                property = &*it;
                break;
            }
        }
        finding(mFrames.back().line,
                "the value of <prop> " + quoted(property != nullptr ? property->name : "") +
                    " has blanks or line breaks around it, which are kept as part of it");
    }
}

void LayerNotes::endElement() {
    if (!mFrames.empty()) {
        mFrames.pop_back();
    }
}

}  // namespace vesk::legacy
