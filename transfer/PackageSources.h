// Where one package can be fetched: the manifest's URL, then its mirrors, in order. A download
// that fails at one moves on to the next and goes on from where it stood; the bytes of several
// servers may be mixed, since every one is judged by the signed size, SHA-256 and index.
#pragma once

#include <string>
#include <vector>

class PackageSources {
public:
    // first: the manifest's own URL; mirrors after it (empty ones are skipped).
    PackageSources(const std::string& first, const std::vector<std::string>& mirrors) : m_urls{first} {
        for (const std::string& mirror : mirrors)
            if (!mirror.empty()) m_urls.push_back(mirror);
    }

    const std::string& Current() const { return m_urls[m_current]; }
    bool IsLast() const { return m_current + 1 == m_urls.size(); }
    // Moves to the next URL; false when the current one is the last (it stays current).
    bool MoveOn() {
        if (m_current + 1 >= m_urls.size()) return false;
        ++m_current;
        return true;
    }
    // Back to the first: a download of another kind tries every server again.
    void Restart() { m_current = 0; }
    // Makes url current when it is one of them (a partial file goes on where it came from).
    bool StartAt(const std::string& url) {
        for (size_t i = 0; i < m_urls.size(); ++i)
            if (m_urls[i] == url) {
                m_current = i;
                return true;
            }
        return false;
    }

private:
    std::vector<std::string> m_urls;
    size_t m_current = 0;
};
