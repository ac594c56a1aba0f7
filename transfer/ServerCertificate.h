// The check of an HTTPS server's certificate against the system's trusted roots, made here as
// well as by the system's TLS: a chain to a trusted root, valid now, for the host asked for.
// Revocation is the TLS layer's to check (best-effort, where the lists can be reached).
#pragma once

#include <string>
#include <vector>

// chainPem: the certificates the server sent, each in PEM, its own first.
bool IsTrustedServerCertificate(const std::vector<std::string>& chainPem, const std::wstring& host);
