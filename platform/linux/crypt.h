// CryptoAPI (advapi32): the Microsoft Base Cryptographic Provider v1.0, as far as the module
// uses it. Provider contexts, MD2/MD4/MD5/SHA-1 hashes, RC2/RC4/DES session keys derived from a
// hash, their parameters, and encryption and decryption with the provider's padding, under the
// Windows names, widths and error codes (GetLastError).
//
// What the stand-in offers: the Base provider by name, or as the default of PROV_RSA_FULL;
// key containers that exist for the life of the process (no key pairs are kept in them);
// keys derived with the default lengths. Other providers, provider types, algorithms, key
// parameters and derivation flags fail with the error Windows gives for something the
// provider does not offer.
#pragma once

#include "platform/linux/types.h"

typedef unsigned int ALG_ID;
typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTHASH;
typedef ULONG_PTR HCRYPTKEY;
typedef const BYTE* LPCBYTE;

#define MS_DEF_PROV_A "Microsoft Base Cryptographic Provider v1.0"

#define PROV_RSA_FULL 1u
#define PROV_RSA_SIG 2u
#define PROV_DSS 3u
#define PROV_FORTEZZA 4u
#define PROV_MS_EXCHANGE 5u
#define PROV_SSL 6u
#define PROV_RSA_SCHANNEL 12u
#define PROV_DSS_DH 13u
#define PROV_DH_SCHANNEL 18u

#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008u
#define CRYPT_DELETEKEYSET 0x00000010u
#define CRYPT_MACHINE_KEYSET 0x00000020u
#define CRYPT_SILENT 0x00000040u

#define CALG_MD2 0x00008001u
#define CALG_MD4 0x00008002u
#define CALG_MD5 0x00008003u
#define CALG_SHA 0x00008004u
#define CALG_SHA1 0x00008004u
#define CALG_MAC 0x00008005u
#define CALG_SSL3_SHAMD5 0x00008008u
#define CALG_HMAC 0x00008009u
#define CALG_TLS1PRF 0x0000800Au
#define CALG_HASH_REPLACE_OWF 0x0000800Bu
#define CALG_SHA_256 0x0000800Cu
#define CALG_DES 0x00006601u
#define CALG_RC2 0x00006602u
#define CALG_3DES 0x00006603u
#define CALG_RC4 0x00006801u
#define CALG_AES_128 0x0000660Eu

#define HP_ALGID 0x0001u
#define HP_HASHVAL 0x0002u
#define HP_HASHSIZE 0x0004u

#define CRYPT_EXPORTABLE 0x00000001u
#define CRYPT_CREATE_SALT 0x00000004u
#define CRYPT_NO_SALT 0x00000010u

#define KP_IV 1u
#define KP_SALT 2u
#define KP_PADDING 3u
#define KP_MODE 4u
#define KP_ALGID 7u
#define KP_BLOCKLEN 8u
#define KP_KEYLEN 9u
#define KP_EFFECTIVE_KEYLEN 19u

#define PKCS5_PADDING 1u
#define CRYPT_MODE_CBC 1u

#define NTE_BAD_UID 0x80090001u
#define NTE_BAD_HASH 0x80090002u
#define NTE_BAD_KEY 0x80090003u
#define NTE_BAD_LEN 0x80090004u
#define NTE_BAD_DATA 0x80090005u
#define NTE_BAD_ALGID 0x80090008u
#define NTE_BAD_FLAGS 0x80090009u
#define NTE_BAD_TYPE 0x8009000Au
#define NTE_BAD_HASH_STATE 0x8009000Cu
#define NTE_EXISTS 0x8009000Fu
#define NTE_BAD_PROV_TYPE 0x80090014u
#define NTE_BAD_KEYSET 0x80090016u
#define NTE_PROV_TYPE_NOT_DEF 0x80090017u
#define NTE_KEYSET_NOT_DEF 0x80090019u
#define NTE_PROV_TYPE_NO_MATCH 0x8009001Bu

extern "C" {
// A null provider name opens the default provider of the type; a null or empty container
// name the default container. CRYPT_VERIFYCONTEXT opens no container.
WINAPI_EXPORT BOOL CryptAcquireContextA(HCRYPTPROV* provider, LPCSTR container,
                                        LPCSTR provider_name, DWORD provider_type, DWORD flags);
WINAPI_EXPORT BOOL CryptReleaseContext(HCRYPTPROV provider, DWORD flags);

WINAPI_EXPORT BOOL CryptCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key,
                                   DWORD flags, HCRYPTHASH* hash);
WINAPI_EXPORT BOOL CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD length, DWORD flags);
// Reading HP_HASHVAL, the size query with a null buffer included, finishes the hash.
WINAPI_EXPORT BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD param, BYTE* data, DWORD* length,
                                     DWORD flags);
WINAPI_EXPORT BOOL CryptDestroyHash(HCRYPTHASH hash);

// The key is the first bytes of the hash value (which finishes the hash).
WINAPI_EXPORT BOOL CryptDeriveKey(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTHASH hash,
                                  DWORD flags, HCRYPTKEY* key);
WINAPI_EXPORT BOOL CryptDestroyKey(HCRYPTKEY key);
WINAPI_EXPORT BOOL CryptGetKeyParam(HCRYPTKEY key, DWORD param, BYTE* data, DWORD* length,
                                    DWORD flags);
WINAPI_EXPORT BOOL CryptSetKeyParam(HCRYPTKEY key, DWORD param, const BYTE* data, DWORD flags);
// With a null buffer, *length becomes the size the output needs. A final call pads (block
// ciphers) and returns the key to its IV and initial state.
WINAPI_EXPORT BOOL CryptEncrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data,
                                DWORD* length, DWORD buffer_length);
WINAPI_EXPORT BOOL CryptDecrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data,
                                DWORD* length);
}
