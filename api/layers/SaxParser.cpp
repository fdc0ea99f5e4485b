#include "layers/SaxParser.h"

#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>

#include <climits>
#include <mutex>
#include <new>
#include <stdexcept>

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

SaxParser::SaxParser(const std::string& text, int extraOptions) {
    if (text.size() > static_cast<size_t>(INT_MAX)) {
        throw std::length_error("text too large for the XML parser");
    }
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
    // The whole text in one buffer of the parser's own, as xmlSAXUserParseMemory
    // has it: fed in pieces instead, the parser spends more on refilling and
    // moving its buffer than the one copy costs.
    xmlParserInputBufferPtr buffer = xmlParserInputBufferCreateMem(
        text.data(), static_cast<int>(text.size()), XML_CHAR_ENCODING_NONE);
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
