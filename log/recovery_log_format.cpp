#include "log/recovery_log_format.h"

#include <cstring>

namespace quorlan {

bool HasRecoveryLogSignature(std::span<const std::byte> bytes) {
    return bytes.size() >= kRecoveryLogSignature.size() &&
           std::memcmp(bytes.data(), kRecoveryLogSignature.data(), kRecoveryLogSignature.size()) == 0;
}

}  // namespace quorlan
