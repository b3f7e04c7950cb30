// Conversions between the installer's UTF-16 texts and the bytes of the
// C library's multibyte encoding, under the process locale.
//
// The locale is chosen once, at start-up, by SelectEnvironmentLocale(); the
// conversions never switch it, so the UI thread and the copy thread may
// convert at the same time. A text the locale cannot represent converts up
// to its first unconvertible character; nothing reports the failure.
#ifndef QORV_BASE_TEXT_CONVERT_H_
#define QORV_BASE_TEXT_CONVERT_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "base/text_string.h"

namespace qorv {

// Selects the locale the environment names (LC_ALL, LANG, ...) for the whole
// process and returns its name, or null when the environment names a locale
// the system lacks (the C locale stays then). When the character type ends
// up the plain C/POSIX one, it becomes C.UTF-8, so that names and texts are
// UTF-8 whatever the messages' locale is. Call once, before any thread
// starts.
const char* SelectEnvironmentLocale();

// Decodes the terminated bytes `source` (read up to the first zero byte).
// Returns the number of UTF-16 units decoded (a character beyond U+FFFF is
// a surrogate pair); stores at most `limit` of them in `out`, and no
// terminator. Decoding stops at the first invalid or incomplete sequence.
size_t MultiByteToUtf16(const char* source, char16_t* out, long limit);

// Encodes `source` (read up to the first zero unit or `length` units) into
// `out`. A surrogate pair is one character; a lone surrogate is a character
// no encoding can represent. Returns the
// number of bytes of the encoding; when that is not 0, `out` is zeroed and
// filled with it. Encoding stops at the first unit the locale cannot
// represent, and never writes a character that does not fit `size`.
size_t Utf16ToMultiByte(const char16_t* source, size_t length, char* out, size_t size);

// Whether the process locale's encoding is UTF-8.
bool LocaleIsUtf8();

// The code point that starts at source[i] of `length` units (a surrogate
// pair counts as one), and in *units how many units it takes; a lone
// surrogate is answered as it is, which no encoding can represent.
char32_t CodePointAt(const char16_t* source, size_t length, size_t i, size_t* units);
// Writes the UTF-8 form of `point` (not a surrogate) at `out`; returns the
// end of what it wrote (at most 4 bytes).
char* PutUtf8(char32_t point, char* out);

// Whole-string forms of the two primitives above. Both stop at a zero unit.
NarrowString toNarrow(const WideString& text);
WideString toWide(const NarrowString& text);

// Compares the locale encodings of `a` and `b` with only ASCII letters
// folded: negative, zero (equal) or positive.
int CompareNoCase(const WideString& a, const WideString& b);

// The same for paths and other names held as std::string, the type the file
// layer takes: the locale's bytes of a text, and the text of such bytes.
std::string Narrow(const WideString& text);
// `text` as a JSON string, quotes included. Bytes that are not UTF-8 keep
// their values the way Python's "surrogateescape" does: U+DC80..U+DCFF.
std::string JsonString(const std::string& text);
WideString Wide(const std::string& bytes);

// `text` fit for a terminal or one line of a log, whoever wrote it (a kit's
// product name, a file name): C0 controls (line feeds too) and DEL become
// "\x1b", "\x7f"; the C1 controls U+0080..U+009F (in UTF-8) "\u0085".
// Nothing can then move the cursor, retitle a window or start a line of its
// own. Everything else is kept as it is.
std::string EscapeControls(std::string_view text);
WideString EscapeControls(const WideString& text);

}  // namespace qorv

#endif  // QORV_BASE_TEXT_CONVERT_H_
