// Shared pieces of the signature classes: the stored texts.
#include "markhound/signatures/signature.h"

void SignatureText::Set(const char* src) {
    length = 0;
    if (src != nullptr) {
        while (length < kMaxLength && src[length] != '\0') {
            text[length] = src[length];
            ++length;
        }
    }
    text[length] = '\0';
}
