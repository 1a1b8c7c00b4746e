#include "engine/Sha256.h"

#include <new>
#include <openssl/evp.h>
#include <stdexcept>

namespace {
// Fetched once: an implicit fetch on every init costs a provider lookup per file.
const EVP_MD* sha256Method()
{
    static EVP_MD* md = [] {
        EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        return fetched ? fetched : const_cast<EVP_MD*>(EVP_sha256());
    }();
    return md;
}

void check(int ok)
{
    if (ok != 1) throw std::runtime_error("SHA-256 failed");
}
} // namespace

Sha256::Sha256() : ctx_(EVP_MD_CTX_new())
{
    if (!ctx_) throw std::bad_alloc();
    if (EVP_DigestInit_ex2(ctx_, sha256Method(), nullptr) != 1) {
        EVP_MD_CTX_free(ctx_);
        throw std::runtime_error("SHA-256 failed");
    }
}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

Sha256::Sha256(Sha256&& other) noexcept : ctx_(other.ctx_) { other.ctx_ = nullptr; }

Sha256& Sha256::operator=(Sha256&& other) noexcept
{
    if (this != &other) {
        EVP_MD_CTX_free(ctx_);
        ctx_ = other.ctx_;
        other.ctx_ = nullptr;
    }
    return *this;
}

void Sha256::update(const void* data, size_t length) { check(EVP_DigestUpdate(ctx_, data, length)); }

Sha256::Digest Sha256::peek() const
{
    thread_local EVP_MD_CTX* scratch = nullptr;
    thread_local struct Release {
        ~Release() { EVP_MD_CTX_free(scratch); }
    } release;
    (void)release;
    if (!scratch && !(scratch = EVP_MD_CTX_new())) throw std::bad_alloc();
    check(EVP_MD_CTX_copy_ex(scratch, ctx_));
    Digest out{};
    unsigned int length = 0;
    check(EVP_DigestFinal_ex(scratch, out.data(), &length));
    return out;
}

Sha256::Digest Sha256::finish()
{
    Digest out{};
    unsigned int length = 0;
    check(EVP_DigestFinal_ex(ctx_, out.data(), &length));
    return out;
}

std::string Sha256::hex(const Digest& digest)
{
    static const char digits[] = "0123456789abcdef";
    std::string out(64, '0');
    for (size_t i = 0; i < digest.size(); ++i) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 0x0f];
    }
    return out;
}
