// Signature files and public keys as minisign writes them, damaged anywhere: read, never
// trusted by accident.

#include "jobs/signature.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString why;
    const std::optional<signature::Signature> parsed = signature::parseSignature(bytes, &why);
    if (!parsed) {
        if (why.isEmpty())
            std::abort();
    } else if (parsed->keyId.size() != 8 || parsed->signature.size() != 64 ||
               parsed->globalSignature.size() != 64) {
        std::abort();
    }
    const std::optional<signature::PublicKey> key =
        signature::parsePublicKey(QString::fromLatin1(bytes), &why);
    if (key && (key->keyId.size() != 8 || key->key.size() != 32))
        std::abort();
    // A signature checked against a key of its own bytes, whatever they are: an answer, never a
    // crash.
    if (parsed && key) {
        signature::PublicKey same = *key;
        same.keyId = parsed->keyId;
        signature::verify(bytes, *parsed, same, &why);
    }
    return 0;
}
