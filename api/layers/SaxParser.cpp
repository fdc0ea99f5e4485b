// SPDX-License-Identifier: LGPL-2.1-or-later
#include "layers/SaxParser.h"

#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>

namespace vesk::legacy {

namespace {

std::once_flag sParserInitialised;

// The offset of the first start tag holding more than SaxParser::kMaxAttributes
// attributes, or npos. Each attribute has one "=" outside quotes; comments,
// CDATA sections, processing instructions and declarations hold none.
size_t crowdedElement(const std::string& text) {
    const char* const data = text.data();
    const size_t size = text.size();
    size_t at = 0;
    for (;;) {
        const void* open = at < size ? std::memchr(data + at, '<', size - at) : nullptr;
        if (open == nullptr) {
            return std::string::npos;
        }
        const size_t start = static_cast<size_t>(static_cast<const char*>(open) - data);
        at = start + 1;
        if (at < size && (data[at] == '!' || data[at] == '?')) {
            const char* close = data[at] == '?'                        ? "?>"
                                : text.compare(at, 3, "!--") == 0      ? "-->"
                                : text.compare(at, 8, "![CDATA[") == 0 ? "]]>"
                                                                       : nullptr;
            if (close != nullptr) {
                at = text.find(close, at);
                if (at == std::string::npos) {
                    return std::string::npos;
                }
            }
            continue;
        }
        size_t attributes = 0;
        for (; at < size && data[at] != '>' && data[at] != '<'; ++at) {
            const char c = data[at];
            if (c == '"' || c == '\'') {
                const void* end = std::memchr(data + at + 1, c, size - at - 1);
                if (end == nullptr) {
                    return std::string::npos;
                }
                at = static_cast<size_t>(static_cast<const char*>(end) - data);
            } else if (c == '=' && ++attributes > SaxParser::kMaxAttributes) {
                return start;
            }
        }
    }
}

void quiet(void*, const char*, ...) {}

void quieten(xmlSAXHandler& sax) {
    sax.warning = quiet;
    sax.error = quiet;
    sax.fatalError = quiet;
    sax.serror = nullptr;
}

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
    const size_t crowded = crowdedElement(text);
    if (crowded != std::string::npos) {
        mCrowded.failed = true;
        mCrowded.line = 1;
        size_t lineStart = 0;
        for (size_t at = text.find('\n'); at < crowded; at = text.find('\n', at + 1)) {
            ++mCrowded.line;
            lineStart = at + 1;
        }
        mCrowded.column = static_cast<int>(crowded - lineStart + 1);
        mCrowded.message = "the text exceeds a bound: an element holds more than " +
                           std::to_string(kMaxAttributes) + " attributes";
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
    if (mCrowded.failed) {
        return false;
    }
    *mParser->sax = sax;
    mParser->userData = userData;
    xmlParseDocument(mParser.get());
    return mParser->wellFormed != 0;
}

xmlDocPtr SaxParser::parseDocument() {
    if (mCrowded.failed) {
        return nullptr;
    }
    xmlSAXHandler sax;
    xmlSAXVersion(&sax, 2);  // libxml2's own tree builder
    quieten(sax);
    // As with the readers, no entity is declared: a reference to any but the
    // predefined ones is an error, and nothing is loaded or expanded.
    sax.entityDecl = nullptr;
    *mParser->sax = sax;
    mParser->userData = mParser.get();  // the tree builder works on the context
    xmlParseDocument(mParser.get());
    xmlDocPtr document = std::exchange(mParser->myDoc, nullptr);
    if (mParser->wellFormed == 0) {
        xmlFreeDoc(document);
        return nullptr;
    }
    return document;
}

xmlSAXHandler SaxParser::quietHandler() {
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof(sax));
    quieten(sax);
    return sax;
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
    if (mCrowded.failed) {
        return mCrowded;
    }
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
