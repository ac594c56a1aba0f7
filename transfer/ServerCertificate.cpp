#include "transfer/ServerCertificate.h"

#include <windows.h>
#include <wincrypt.h>

#include <memory>

namespace {

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(HCERTSTORE(store), 0); }
};
struct CertificateFreer {
    void operator()(const CERT_CONTEXT* certificate) const { CertFreeCertificateContext(certificate); }
};
struct ChainFreer {
    void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};

std::vector<BYTE> DerOf(const std::string& pem) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return {};
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

}  // namespace

bool IsTrustedServerCertificate(const std::vector<std::string>& chainPem, const std::wstring& host) {
    if (chainPem.empty() || host.empty()) return false;
    std::unique_ptr<void, StoreCloser> sent(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (!sent) return false;
    std::unique_ptr<const CERT_CONTEXT, CertificateFreer> leaf;
    for (size_t i = 0; i < chainPem.size(); ++i) {
        const std::vector<BYTE> der = DerOf(chainPem[i]);
        if (der.empty()) return false;
        PCCERT_CONTEXT added = nullptr;
        if (!CertAddEncodedCertificateToStore(HCERTSTORE(sent.get()), X509_ASN_ENCODING, der.data(), DWORD(der.size()),
                                              CERT_STORE_ADD_ALWAYS, i == 0 ? &added : nullptr))
            return false;
        if (i == 0) leaf.reset(added);
    }

    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    // Revocation is left to the TLS layer's best-effort check: here an unknown status would fail
    // the policy on some systems, whatever the flags say.
    if (!CertGetCertificateChain(nullptr, leaf.get(), nullptr, HCERTSTORE(sent.get()), &para, 0, nullptr, &built))
        return false;
    std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer> chain(built);

    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    std::wstring name = host;
    ssl.pwszServerName = &name[0];
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status) &&
           status.dwError == 0;
}
