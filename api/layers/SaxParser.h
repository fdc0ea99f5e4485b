// SPDX-License-Identifier: LGPL-2.1-or-later
// SaxParser: libxml2's parser over one untrusted text, pinned to safe
// settings and bounds; the one place that sets libxml2 up. Readers bring
// their own SAX1 callbacks; the layer editor takes a document instead.
//
//   SaxParser parser(text, 0);          // or XML_PARSE_HUGE for deep trees and long values
//   session.parser = &parser;           // callbacks run their work in parser.guard(...)
//   xmlSAXHandler sax = SaxParser::quietHandler();
//   sax.startElement = ...;
//   bool wellFormed = parser.parse(sax, &session);
//   parser.rethrowHeld();               // an exception a callback threw, if any
//   if (!wellFormed) ... parser.lastError("not well-formed") ...
//
// Leave the handler's entity, DTD and resolver callbacks unset: with them
// unset and user data of our own, the parser neither loads nor expands any
// entity but the five predefined ones. Each parser parses once.
#pragma once

#include <libxml/parser.h>

#include <cstddef>
#include <exception>
#include <memory>
#include <string>

namespace vesk::legacy {

class SaxParser {
  public:
    // Attributes one element may hold; the formats need a handful. libxml2's
    // duplicate check costs the square of an element's attributes, so a text
    // with a crowded element is refused before the parser sees it.
    static constexpr std::size_t kMaxAttributes = 64;

    // An error the parser recorded: where, and libxml2's untrusted text for it.
    struct Error {
        bool failed = false;  // false when the record holds no error
        int line = 0;
        int column = 0;
        std::string message;  // without a trailing line end
    };

    // The parser keeps a copy of text (at most INT_MAX bytes, else
    // std::length_error). extraOptions are added to the pinned ones.
    SaxParser(const std::string& text, int extraOptions);
    SaxParser(const SaxParser&) = delete;
    SaxParser& operator=(const SaxParser&) = delete;
    ~SaxParser();

    // Parses the text once, calling sax's callbacks with userData. True when
    // the document was well-formed (false without a callback for a crowded element). A held
    // exception is not rethrown here, so that the caller can close what the callbacks left open
    // first.
    bool parse(const xmlSAXHandler& sax, void* userData);
    // The text as a document for editing, read under the same settings and
    // bounds (no entity but the predefined ones); null when it is not
    // well-formed, lastError says why. The caller frees it with xmlFreeDoc.
    xmlDocPtr parseDocument();
    // A handler without callbacks whose errors and warnings go only to the
    // parser's record (lastError), never to the process's error stream.
    static xmlSAXHandler quietHandler();
    void rethrowHeld() const;

    // For callbacks. guard runs work; should it throw, the exception is held
    // (it must not unwind through libxml2's C frames), the parser stops, and
    // later guarded work is skipped.
    template <typename Work>
    void guard(Work&& work) {
        if (mThrown) {
            return;
        }
        try {
            work();
        } catch (...) {
            mThrown = std::current_exception();
            stop();
        }
    }
    void stop();
    // Inline: every element start asks for it.
    int line() const { return mParser->input != nullptr ? mParser->input->line : 0; }
    // The parser's last error; fallback stands for a missing message.
    Error lastError(const char* fallback) const;

  private:
    struct ParserDeleter {
        void operator()(xmlParserCtxtPtr parser) const;
    };
    std::unique_ptr<xmlParserCtxt, ParserDeleter> mParser;
    std::exception_ptr mThrown;
    // Set by the constructor when an element holds too many attributes.
    Error mCrowded;
};

}  // namespace vesk::legacy
