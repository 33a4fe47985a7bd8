// Item digests through libcrypto's EVP interface, fed in blocks so that a
// stop request is seen during a large item.
#include "host/report/hashes.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace {

// Small enough to keep a stop request prompt, large enough that the call
// overhead does not show.
constexpr uint64_t kHashBlock = uint64_t{8} << 20;

const EVP_MD* Algorithm(const std::string& name) {
    if (name == "md5") return EVP_md5();
    if (name == "sha1") return EVP_sha1();
    if (name == "sha256") return EVP_sha256();
    if (name == "sha512") return EVP_sha512();
    return nullptr;
}

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

std::string Hex(const unsigned char* bytes, unsigned size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < size; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 15];
    }
    return hex;
}

}  // namespace

bool IsHashName(const std::string& name) { return Algorithm(name) != nullptr; }

namespace {

// One context per digest name.
std::vector<Context> StartDigests(const std::vector<std::string>& names) {
    std::vector<Context> contexts;
    for (const std::string& name : names) {
        contexts.emplace_back(EVP_MD_CTX_new());
        if (!contexts.back() || EVP_DigestInit_ex(contexts.back().get(), Algorithm(name), nullptr) != 1) {
            throw std::runtime_error("libcrypto cannot compute " + name);
        }
    }
    return contexts;
}

std::vector<Digest> FinishDigests(const std::vector<std::string>& names, std::vector<Context>& contexts) {
    std::vector<Digest> digests;
    for (size_t i = 0; i < names.size(); ++i) {
        unsigned char bytes[EVP_MAX_MD_SIZE];
        unsigned length = 0;
        EVP_DigestFinal_ex(contexts[i].get(), bytes, &length);
        digests.push_back({names[i], Hex(bytes, length)});
    }
    return digests;
}

}  // namespace

std::vector<Digest> HashBytes(const std::vector<std::string>& names, const uint8_t* data,
                              uint64_t size, const std::atomic<int>* stop,
                              const std::function<void(uint64_t done)>& after_block) {
    std::vector<Context> contexts = StartDigests(names);
    for (uint64_t done = 0; done < size; done += kHashBlock) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed) != 0) return {};
        const auto block = static_cast<size_t>(std::min(kHashBlock, size - done));
        for (Context& context : contexts) EVP_DigestUpdate(context.get(), data + done, block);
        if (after_block) after_block(done + block);
    }
    return FinishDigests(names, contexts);
}

std::vector<Digest> HashPieces(const std::vector<std::string>& names, const std::vector<Piece>& pieces,
                               const std::atomic<int>* stop, const PieceFn& after_block) {
    static const std::vector<uint8_t> zeros(size_t{1} << 20);
    std::vector<Context> contexts = StartDigests(names);
    for (const Piece& piece : pieces) {
        for (uint64_t done = 0, block = 0; done < piece.size; done += block) {
            if (stop != nullptr && stop->load(std::memory_order_relaxed) != 0) return {};
            const uint64_t most = piece.data != nullptr ? kHashBlock : zeros.size();
            block = std::min(most, piece.size - done);
            const uint8_t* bytes = piece.data != nullptr ? piece.data + done : zeros.data();
            for (Context& context : contexts) EVP_DigestUpdate(context.get(), bytes, block);
            if (after_block) after_block(piece, done + block);
        }
    }
    return FinishDigests(names, contexts);
}
