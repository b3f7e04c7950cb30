// The public keys this build of the installer trusts, from the CMake option
// QORV_TRUSTED_KEYS (files made by `vkt keygen`). When there are any, every
// kit must carry a valid signature by one of them.
#ifndef QORV_INSTALL_TRUSTED_KEYS_H_
#define QORV_INSTALL_TRUSTED_KEYS_H_

#include <vector>

#include "kit/kit_crypto.h"

namespace qorv {

const std::vector<PublicKey>& TrustedKeys();

}  // namespace qorv

#endif  // QORV_INSTALL_TRUSTED_KEYS_H_
