// The checks before any window exists: where the kit is, whether the
// temporary directory has room to unpack it, whether it opens, and which
// template directory to propose. The wizard and the text front end call the
// same preparation; it shows nothing itself and answers with the message
// key to show when it fails.
#ifndef QORV_INSTALL_PREPARATION_H_
#define QORV_INSTALL_PREPARATION_H_

#include <string>
#include <vector>

#include "base/text_string.h"
#include "config/launcher_settings.h"
#include "install/trusted_keys.h"
#include "kit/kit_reader.h"

namespace qorv {

// The kit file: "qorv.vkt" in the current directory with `usecwd`, else
// beside the executable. Empty when that directory cannot be found.
WideString LocateKit(bool usecwd);
// Whether this program carries its kit (vkt bundle): then LocateKit()
// always answers the program itself.
bool CarriesItsKit();

// Empties a target holding "http://", "https://" or "ftp://" anywhere, turns
// the first "file://" into nothing, and removes line feeds and carriage
// returns.
WideString CleanTarget(const WideString& target);

// `relative` (a kit's description path) under `target`, joined with exactly
// one "/", backslashes turned into "/".
WideString PathUnderTarget(const WideString& target, const WideString& relative);

// The kit's description document in `language` (else the English one) as
// installed under `target`; empty when the kit names none or it is not
// there.
WideString InstalledDescription(const KitReader& reader, const WideString& language,
                                const WideString& target);

// A directory as the user typed it, made absolute: "~" and "~/..." from
// HOME, a relative one from the current directory, backslashes as "/".
// Empty stays empty.
WideString ResolveTypedDirectory(const WideString& typed);

// "Welcome to the product installation program <product> (<provider>)."
// with the kit's texts in `language`, or the default ones.
WideString WelcomeText(const KitReader& reader, const WideString& language);

struct Preparation {
  WideString kitPath;
  KnownLocations locations;  // the launcher's list and its two flags
  WideString target;         // proposed, cleaned
  // What the kit's trailer told: whether its digest was checked, and the
  // keys (their ids) of its valid signatures.
  bool checked = false;
  std::vector<std::string> signedBy;
  // On failure, the cause in words when there is more to say than the
  // message (the reader's: "digest mismatch: ...").
  std::string problem;
};

enum class PrepareFailure {
  kNone,
  kNoSource,       // IDS_ERROR_NOSOURCE
  kNoSpace,        // IDS_ERROR_NOSPACE
  kDamagedSource,  // IDS_ERROR_DAMAGEDSOURCE
  kUntrusted,      // IDS_ERROR_UNTRUSTED
};

// The message key of a failure ("IDS_ERROR_NOSOURCE", ...).
const char* MessageKeyOf(PrepareFailure failure);

// Locates the kit (or takes `kitPath` when it is not empty), reads the
// launcher's locations, proposes and cleans the target, checks that the
// temporary directory has room for the unpacked kit (its size as the kit's
// trailer gives it; three times the kit's size for a kit without one), and
// opens the kit with `reader`, which checks its digest and signatures. With
// `trusted` keys, the kit must carry a valid signature by one of them. The
// first failure ends it; a temporary directory that fills up while the kit
// is unpacked is a lack of space, not damage.
// With `headOnly` (a dry run) the kit's head is read and nothing is
// written anywhere (KitReader::OpenHeadOnly).
PrepareFailure Prepare(bool usecwd, const WideString& kitPath, KitReader& reader, Preparation* out,
                       const std::vector<PublicKey>& trusted = TrustedKeys(),
                       bool headOnly = false);

}  // namespace qorv

#endif  // QORV_INSTALL_PREPARATION_H_
