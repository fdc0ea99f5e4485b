#include "layers/SaxParser.h"

#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace vesk::legacy {

namespace {

std::once_flag sParserInitialised;

}  // namespace

void SaxParser::ParserDeleter::operator()(xmlParserCtxtPtr parser) const {
    // An entity declared in an internal subset makes libxml2 build a document
    // of its own even for SAX; freeing the context leaves it.
    xmlFreeDoc(parser->myDoc);
    xmlFreeParserCtxt(parser);
}

// The text is handed to the parser in pieces as it asks for them. The memory
// parser would first copy the whole text into a buffer of its own; in pieces,
// the parser reads from a small buffer that stays in the cache.
int SaxParser::readPiece(void* context, char* buffer, int length) {
    SaxParser& parser = *static_cast<SaxParser*>(context);
    if (length <= 0) {
        return 0;
    }
    const size_t count = std::min(static_cast<size_t>(length), parser.mLeft);
    std::memcpy(buffer, parser.mNext, count);
    parser.mNext += count;
    parser.mLeft -= count;
    return static_cast<int>(count);
}

SaxParser::SaxParser(const std::string& text, int extraOptions)
    : mNext(text.data()), mLeft(text.size()) {
    // Texts are parsed on the policy service's callback thread too; libxml2
    // wants its global set-up done once before any parse.
    std::call_once(sParserInitialised, xmlInitParser);

    // This is xmlSAXUserParseMemory opened up: the same parser in SAX1 mode,
    // but holding the context, so that a callback can stop it and its errors
    // can be read.
    mParser.reset(xmlNewParserCtxt());
    if (!mParser) {
        throw std::bad_alloc();
    }
    xmlParserInputBufferPtr buffer =
        xmlParserInputBufferCreateIO(readPiece, nullptr, this, XML_CHAR_ENCODING_NONE);
    if (buffer == nullptr) {
        throw std::bad_alloc();
    }
    xmlParserInputPtr input = xmlNewIOInputStream(mParser.get(), buffer, XML_CHAR_ENCODING_NONE);
    if (input == nullptr) {
        xmlFreeParserInputBuffer(buffer);
        throw std::bad_alloc();
    }
    // A fresh context has room for its first input; should the push fail all
    // the same, libxml2 has freed the input.
    if (inputPush(mParser.get(), input) < 0) {
        throw std::bad_alloc();
    }
    // Pinned, whatever process-wide defaults another library has set: no
    // entity substitution, no DTD loading or validation, no network.
    xmlCtxtUseOptions(mParser.get(), XML_PARSE_NONET | extraOptions);
    mParser->replaceEntities = 0;
    mParser->loadsubset = 0;
    mParser->validate = 0;
}

SaxParser::~SaxParser() = default;

bool SaxParser::parse(const xmlSAXHandler& sax, void* userData) {
    *mParser->sax = sax;
    mParser->userData = userData;
    xmlParseDocument(mParser.get());
    return mParser->wellFormed != 0;
}

void SaxParser::rethrowHeld() const {
    if (mThrown) {
        std::rethrow_exception(mThrown);
    }
}

void SaxParser::stop() {
    xmlStopParser(mParser.get());
}

SaxParser::Error SaxParser::lastError(const char* fallback) const {
    const xmlError& record = mParser->lastError;
    Error error;
    error.failed = record.code != XML_ERR_OK;
    error.line = record.line;
    error.column = record.int2;
    error.message = record.message != nullptr ? record.message : fallback;
    while (!error.message.empty() &&
           (error.message.back() == '\n' || error.message.back() == '\r')) {
        error.message.pop_back();
    }
    return error;
}

}  // namespace vesk::legacy
