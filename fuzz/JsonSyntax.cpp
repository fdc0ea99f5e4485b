// SPDX-License-Identifier: LGPL-2.1-or-later
#include "JsonSyntax.h"

#include <cctype>
#include <cstring>

namespace vesk::legacy::fuzz {

namespace {

class Reader {
  public:
    explicit Reader(const std::string& text) : mText(text) {}

    bool document() {
        blanks();
        if (!value(0)) {
            return false;
        }
        blanks();
        return mPos == mText.size();
    }

  private:
    static constexpr int kMaxDepth = 512;

    char peek() const { return mPos < mText.size() ? mText[mPos] : '\0'; }
    bool take(char c) {
        if (peek() != c || mPos >= mText.size()) {
            return false;
        }
        ++mPos;
        return true;
    }
    void blanks() {
        while (mPos < mText.size() && std::strchr(" \t\r\n", mText[mPos]) != nullptr) {
            ++mPos;
        }
    }
    bool word(const char* w) {
        const size_t n = std::strlen(w);
        if (mText.compare(mPos, n, w) != 0) {
            return false;
        }
        mPos += n;
        return true;
    }
    bool digits() {
        const size_t start = mPos;
        while (std::isdigit(static_cast<unsigned char>(peek())) && mPos < mText.size()) {
            ++mPos;
        }
        return mPos > start;
    }
    bool number() {
        take('-');
        if (!take('0') && !digits()) {
            return false;
        }
        if (take('.') && !digits()) {
            return false;
        }
        if (take('e') || take('E')) {
            if (!take('+')) {
                take('-');
            }
            return digits();
        }
        return true;
    }
    bool string() {
        if (!take('"')) {
            return false;
        }
        while (mPos < mText.size()) {
            const unsigned char c = static_cast<unsigned char>(mText[mPos++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                const char e = peek();
                ++mPos;
                if (e == 'u') {
                    for (int i = 0; i < 4; ++i, ++mPos) {
                        if (!std::isxdigit(static_cast<unsigned char>(peek()))) {
                            return false;
                        }
                    }
                } else if (std::strchr("\"\\/bfnrt", e) == nullptr || e == '\0') {
                    return false;
                }
            } else if (c >= 0x80 && !utf8Tail(c)) {
                return false;
            }
        }
        return false;
    }
    // The rest of a UTF-8 sequence whose lead byte was just read.
    bool utf8Tail(unsigned char lead) {
        size_t more = lead >= 0xf0 ? 3 : lead >= 0xe0 ? 2 : 1;
        if (lead < 0xc2 || lead > 0xf4 || mPos + more > mText.size()) {
            return false;
        }
        const unsigned char second = static_cast<unsigned char>(mText[mPos]);
        if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second >= 0xa0) ||
            (lead == 0xf0 && second < 0x90) || (lead == 0xf4 && second >= 0x90)) {
            return false;
        }
        for (; more > 0; --more, ++mPos) {
            if ((static_cast<unsigned char>(mText[mPos]) & 0xc0) != 0x80) {
                return false;
            }
        }
        return true;
    }
    bool value(int depth) {
        if (depth > kMaxDepth) {
            return false;
        }
        switch (peek()) {
            case '{':
                return members(depth, '}', true);
            case '[':
                return members(depth, ']', false);
            case '"':
                return string();
            case 't':
                return word("true");
            case 'f':
                return word("false");
            case 'n':
                return word("null");
            default:
                return number();
        }
    }
    bool members(int depth, char close, bool object) {
        ++mPos;
        blanks();
        if (take(close)) {
            return true;
        }
        do {
            blanks();
            if (object) {
                if (!string()) {
                    return false;
                }
                blanks();
                if (!take(':')) {
                    return false;
                }
                blanks();
            }
            if (!value(depth + 1)) {
                return false;
            }
            blanks();
        } while (take(','));
        return take(close);
    }

    const std::string& mText;
    size_t mPos = 0;
};

}  // namespace

bool JsonSyntax::isValid(const std::string& text) {
    return Reader(text).document();
}

}  // namespace vesk::legacy::fuzz
