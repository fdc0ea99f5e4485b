// SPDX-License-Identifier: LGPL-2.1-or-later
#include "layers/XmlUpdateLayer.h"

#include <libxml/parser.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "layers/ITreeHandler.h"
#include "layers/LayerLimitExceeded.h"
#include "layers/ParserContext.h"
#include "layers/SaxParser.h"

namespace vesk::legacy {

namespace {

// Everything one read needs inside the parser's callbacks.
struct ReadSession {
    ReadSession(ITreeHandler& handler, SaxParser& parser) : context(handler), parser(parser) {}

    ParserContext context;
    SaxParser& parser;
    XmlUpdateLayer::ParseError error;
    // The start lines of the open elements: the SAX1 parser names the open
    // element of a mismatched end tag with "line 0".
    std::vector<int> openLines;
    bool limited = false;  // stopped at a bound
};

const char* text(const xmlChar* value) {
    return reinterpret_cast<const char*>(value);
}

// A layer past a bound is a broken layer: it stops here, with an error as
// the parser's own, before the excess is built.
template <typename Event>
void deliver(void* data, Event event) {
    ReadSession& session = *static_cast<ReadSession*>(data);
    if (session.limited) {
        return;
    }
    session.parser.guard([&] {
        try {
            event(session);
        } catch (const LayerLimitExceeded& limit) {
            session.limited = true;
            session.error.failed = true;
            session.error.line = session.parser.line();
            session.error.column = 1;
            session.error.message = "the layer exceeds a bound: " + limit.getMessage();
            session.parser.stop();
        }
    });
}

void onStartDocument(void* data) {
    deliver(data, [](ReadSession& session) { session.context.startDocument(); });
}

void onEndDocument(void* data) {
    deliver(data, [](ReadSession& session) { session.context.endDocument(); });
}

void onStartElement(void* data, const xmlChar* name, const xmlChar** attributes) {
    deliver(data, [&](ReadSession& session) {
        const int line = session.parser.line();
        session.openLines.push_back(line);
        session.context.startElement(text(name), reinterpret_cast<const char* const*>(attributes),
                                     line);
    });
}

void onEndElement(void* data, const xmlChar* name) {
    deliver(data, [&](ReadSession& session) {
        if (!session.openLines.empty()) {
            session.openLines.pop_back();
        }
        session.context.endElement(text(name));
    });
}

void onCharacters(void* data, const xmlChar* characters, int length) {
    if (!static_cast<ReadSession*>(data)->context.takesCharacters()) {
        return;
    }
    deliver(data,
            [&](ReadSession& session) { session.context.characters(text(characters), length); });
}

// Keeps the parser's first error; by then libxml2 has filled in its record.
void recordError(ReadSession& session) {
    if (session.error.failed) {
        return;
    }
    SaxParser::Error last = session.parser.lastError("malformed layer");
    if (!last.failed) {
        return;
    }
    session.error.failed = true;
    session.error.line = last.line;
    session.error.column = last.column;
    session.error.message = std::move(last.message);
    const std::string unknownLine = " line 0 and ";
    const size_t at = session.error.message.find(unknownLine);
    if (at != std::string::npos && !session.openLines.empty()) {
        session.error.message.replace(
            at, unknownLine.size(), " line " + std::to_string(session.openLines.back()) + " and ");
    }
}

void onError(void* data, const char*, ...) {
    ReadSession& session = *static_cast<ReadSession*>(data);
    try {
        recordError(session);
    } catch (...) {
        // Out of memory while copying the message: the parse result still
        // says the layer is broken.
    }
    // The layer is broken from here on and no later event reaches the handler,
    // but libxml2 would read on to the end, raising and formatting an error for
    // every later fault: a megabyte of garbage after one bad byte cost as much
    // as reading it all.
    session.parser.stop();
}

// Only what the format needs; none of the entity, DTD or resolver callbacks.
xmlSAXHandler makeSaxHandler() {
    xmlSAXHandler sax = SaxParser::quietHandler();
    sax.startDocument = onStartDocument;
    sax.endDocument = onEndDocument;
    sax.startElement = onStartElement;
    sax.endElement = onEndElement;
    sax.characters = onCharacters;
    sax.error = onError;
    return sax;
}

void fail(XmlUpdateLayer::ParseError* error, const char* message) {
    if (error != nullptr) {
        error->failed = true;
        error->line = 1;
        error->column = 1;
        error->message = message;
    }
}

}  // namespace

XmlUpdateLayer::XmlUpdateLayer(const char* data, int size)
    : mText(data != nullptr && size > 0 ? std::string(data, static_cast<size_t>(size))
                                        : std::string()) {}

void XmlUpdateLayer::read(ITreeHandler& handler) const {
    read(handler, nullptr);
}

bool XmlUpdateLayer::read(ITreeHandler& handler, ParseError* error) const {
    return read(handler, error, nullptr);
}

bool XmlUpdateLayer::read(ITreeHandler& handler, ParseError* error,
                          ILayerDiagnostics* diagnostics) const {
    if (error != nullptr) {
        *error = ParseError();
    }
    if (mText.empty()) {
        fail(error, "Document is empty");
        return false;
    }
    if (mText.size() > static_cast<size_t>(INT_MAX)) {
        fail(error, "Layer too large");
        return false;
    }
    // Layers keep libxml2's default depth and size limits (no XML_PARSE_HUGE).
    SaxParser parser(mText, 0);
    ReadSession session(handler, parser);
    session.context.setDiagnostics(diagnostics);
    const bool parsed = parser.parse(makeSaxHandler(), &session);
    parser.rethrowHeld();
    if (!parsed && !session.error.failed) {
        // Reported elsewhere (a process-wide structured error handler): take
        // what the parser kept.
        recordError(session);
        if (!session.error.failed) {
            session.error.failed = true;
            session.error.message = "malformed layer";
        }
    }
    const bool wellFormed = !session.error.failed;
    if (error != nullptr) {
        *error = std::move(session.error);
    }
    return wellFormed;
}

}  // namespace vesk::legacy
