#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct evp_md_ctx_st;

// A running SHA-256 over OpenSSL's EVP interface (hardware SHA extensions where present).
class Sha256 {
public:
    using Digest = std::array<uint8_t, 32>;

    Sha256();
    ~Sha256();
    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&& other) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, size_t length);
    // The digest of the bytes fed so far; the running state is kept, so feeding can go on.
    Digest peek() const;
    // The digest of everything fed; the object must not be fed afterwards.
    Digest finish();

    // 64 lower-case hexadecimal digits, most significant first.
    static std::string hex(const Digest& digest);

private:
    evp_md_ctx_st* ctx_;
};
