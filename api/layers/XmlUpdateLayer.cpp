#include "layers/XmlUpdateLayer.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>

#include "layers/ITreeHandler.h"
#include "layers/ParserContext.h"

namespace vesk::legacy {

namespace {

std::once_flag sParserInitialised;

// Everything one read needs inside the parser's callbacks.
struct ReadSession {
    explicit ReadSession(ITreeHandler& handler) : context(handler) {}

    ParserContext context;
    xmlParserCtxtPtr parser = nullptr;
    // A handler's exception, held until the parser has returned: it must not
    // unwind through libxml2's C frames.
    std::exception_ptr thrown;
    XmlUpdateLayer::ParseError error;
};

const char* text(const xmlChar* value) {
    return reinterpret_cast<const char*>(value);
}

template <typename Event>
void deliver(void* data, Event event) {
    ReadSession& session = *static_cast<ReadSession*>(data);
    if (session.thrown) {
        return;
    }
    try {
        event(session);
    } catch (...) {
        session.thrown = std::current_exception();
        xmlStopParser(session.parser);
    }
}

void onStartDocument(void* data) {
    deliver(data, [](ReadSession& session) { session.context.startDocument(); });
}

void onEndDocument(void* data) {
    deliver(data, [](ReadSession& session) { session.context.endDocument(); });
}

void onStartElement(void* data, const xmlChar* name, const xmlChar** attributes) {
    deliver(data, [&](ReadSession& session) {
        session.context.startElement(text(name), reinterpret_cast<const char* const*>(attributes),
                                     xmlSAX2GetLineNumber(session.parser));
    });
}

void onEndElement(void* data, const xmlChar* name) {
    deliver(data, [&](ReadSession& session) { session.context.endElement(text(name)); });
}

void onCharacters(void* data, const xmlChar* characters, int length) {
    deliver(data,
            [&](ReadSession& session) { session.context.characters(text(characters), length); });
}

// Keeps the parser's first error; by then libxml2 has filled in its record.
void recordError(ReadSession& session, const xmlError& error) {
    if (session.error.failed || error.code == XML_ERR_OK) {
        return;
    }
    session.error.failed = true;
    session.error.line = error.line;
    session.error.column = error.int2;
    std::string message = error.message != nullptr ? error.message : "malformed layer";
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    session.error.message = std::move(message);
}

void onError(void* data, const char*, ...) {
    ReadSession& session = *static_cast<ReadSession*>(data);
    try {
        recordError(session, session.parser->lastError);
    } catch (...) {
        // Out of memory while copying the message: the parse result still
        // says the layer is broken.
    }
}

// Only what the format needs. No entity, DTD or resolver callbacks: with
// them unset and our own user data, the parser neither loads nor expands any
// entity but the five predefined ones.
xmlSAXHandler makeSaxHandler() {
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof(sax));
    sax.startDocument = onStartDocument;
    sax.endDocument = onEndDocument;
    sax.startElement = onStartElement;
    sax.endElement = onEndElement;
    sax.characters = onCharacters;
    sax.error = onError;
    return sax;
}

struct ParserDeleter {
    void operator()(xmlParserCtxtPtr parser) const {
        // An entity declared in an internal subset makes libxml2 build a
        // document of its own even for SAX; freeing the context leaves it.
        xmlFreeDoc(parser->myDoc);
        xmlFreeParserCtxt(parser);
    }
};

// The layer text handed to the parser in pieces as it asks for them. The
// memory parser would first copy the whole text into a buffer of its own; in
// pieces, the parser reads from a small buffer that stays in the cache.
struct TextSource {
    const char* next;
    size_t left;
};

int readPiece(void* context, char* buffer, int length) {
    TextSource& source = *static_cast<TextSource*>(context);
    if (length <= 0) {
        return 0;
    }
    const size_t count = std::min(static_cast<size_t>(length), source.left);
    std::memcpy(buffer, source.next, count);
    source.next += count;
    source.left -= count;
    return static_cast<int>(count);
}

std::unique_ptr<xmlParserCtxt, ParserDeleter> parserOver(TextSource& source) {
    std::unique_ptr<xmlParserCtxt, ParserDeleter> parser(xmlNewParserCtxt());
    if (!parser) {
        throw std::bad_alloc();
    }
    xmlParserInputBufferPtr buffer =
        xmlParserInputBufferCreateIO(readPiece, nullptr, &source, XML_CHAR_ENCODING_NONE);
    if (buffer == nullptr) {
        throw std::bad_alloc();
    }
    xmlParserInputPtr input = xmlNewIOInputStream(parser.get(), buffer, XML_CHAR_ENCODING_NONE);
    if (input == nullptr) {
        xmlFreeParserInputBuffer(buffer);
        throw std::bad_alloc();
    }
    // A fresh context has room for its first input; should the push fail all
    // the same, libxml2 has freed the input.
    if (inputPush(parser.get(), input) < 0) {
        throw std::bad_alloc();
    }
    return parser;
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
    if (error != nullptr) {
        *error = ParseError();
    }
    // Layers are parsed on the policy service's callback thread too; libxml2
    // wants its global set-up done once before any parse.
    std::call_once(sParserInitialised, xmlInitParser);

    if (mText.empty()) {
        fail(error, "Document is empty");
        return false;
    }
    if (mText.size() > static_cast<size_t>(INT_MAX)) {
        fail(error, "Layer too large");
        return false;
    }
    // This is xmlSAXUserParseMemory opened up: the same parser in SAX1 mode, but
    // holding the parser context, so that a throwing handler can stop it and
    // its errors can be read.
    TextSource source{mText.data(), mText.size()};
    std::unique_ptr<xmlParserCtxt, ParserDeleter> parser = parserOver(source);
    // Pinned, whatever process-wide defaults another library has set: no
    // entity substitution, no DTD loading or validation, no network, default
    // depth and size limits.
    xmlCtxtUseOptions(parser.get(), XML_PARSE_NONET);
    parser->replaceEntities = 0;
    parser->loadsubset = 0;
    parser->validate = 0;

    ReadSession session(handler);
    session.parser = parser.get();
    *parser->sax = makeSaxHandler();
    parser->userData = &session;

    xmlParseDocument(parser.get());

    if (session.thrown) {
        std::rethrow_exception(session.thrown);
    }
    if (parser->wellFormed == 0 && !session.error.failed) {
        // Reported elsewhere (a process-wide structured error handler): take
        // what the parser kept.
        recordError(session, parser->lastError);
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
