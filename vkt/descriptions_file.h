// The descriptions of a kit from a file, for `vkt pack --descriptions`: one
// section per language, UTF-8, any text in the values (':' too), and the
// same kit whatever order the author lists them in.
//
//   # Acme's templates
//   [en]
//   product = Acme templates
//   provider = Acme Ltd
//   document = Trade/doc/description_en.html
//
//   [de]
//   product = Acme-Vorlagen
//   provider = Acme GmbH
//
// Blank lines and lines starting with '#' or ';' are skipped; spaces around
// names and values are dropped. `document` is a path in the kit, '/' or '\'
// separated. Sections come out sorted by language code.
#ifndef QORV_VKT_DESCRIPTIONS_FILE_H_
#define QORV_VKT_DESCRIPTIONS_FILE_H_

#include <string>
#include <vector>

#include "kit/kit_reader.h"

namespace qorv::vkt {

// Parses the text of a descriptions file. False with `*error` naming the
// line ("line 7: ...") of the first problem.
bool ParseDescriptionsFile(const std::string& text, std::vector<KitDescription>* out,
                           std::string* error);

}  // namespace qorv::vkt

#endif  // QORV_VKT_DESCRIPTIONS_FILE_H_
