#include "addressbook/document.h"

#include <algorithm>
#include <string>

#include "common/cp932.h"
#include "common/files.h"
#include "common/sjis.h"

namespace tarn::addressbook {

namespace {

std::string sjis(const std::string& utf8) {
    return cp932::fromUtf8(utf8).value();
}

// "フォルダ1", "グループ3": numbered default names.
std::string numberedName(const char* utf8Stem, int n) {
    return sjis(utf8Stem + std::to_string(n));
}

void trimTrailingBlanks(Record& r, Field f) {
    // Walked character by character so that the trail byte of a double-byte
    // character is never taken for a blank; the full-width space counts as one.
    const std::string_view t = r.text(f);
    std::size_t keep = 0;
    for (std::size_t i = 0; i < t.size();) {
        const std::size_t n = sjis::charLength(t, i);
        const bool blank =
            n == 1 ? std::string_view(" \t\r\n\v\f").find(t[i]) != std::string_view::npos
                   : t.substr(i, 2) == "\x81\x40";  // "　"
        i += n;
        if (!blank) {
            keep = i;
        }
    }
    if (keep != t.size()) {
        r.setText(f, t.substr(0, keep));
    }
}

}  // namespace

FreeFieldTitles defaultFreeFieldTitles() {
    FreeFieldTitles titles;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        titles[i] = "Freefield" + std::to_string(i + 1) + "(&" +
                    static_cast<char>('A' + static_cast<int>(i)) + ")";
    }
    return titles;
}

void CTarnSendDoc::OnNewDocument(const FreeFieldTitles& appTitles) {
    CTarnSendDoc fresh;
    for (int n = 1; n <= 5; ++n) {
        fresh.m_folders.push_back({numberedName("フォルダ", n), static_cast<std::uint16_t>(n + 1)});
        fresh.m_groups.push_back(
            {numberedName("グループ", n), static_cast<std::uint16_t>(n + 6), {}});
    }
    for (const char* h : {"様", "殿", "御中", "先生", "師匠", "君", "くん", "さん", "ちゃん"}) {
        fresh.m_honorifics.push_back(sjis(h));
    }
    fresh.m_titles = appTitles;
    fresh.m_listeners = std::move(m_listeners);
    *this = std::move(fresh);
}

Status CTarnSendDoc::OnSaveDocument(const std::filesystem::path& path) {
    auto bytes = Serialize();
    if (!bytes) {
        return bytes.error();
    }
    auto written = writeFileAtomically(path, *bytes);
    if (!written) {
        return written.error();
    }
    m_modified = false;
    return Ok{};
}

std::size_t CTarnSendDoc::positionOf(const Record* r) const {
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (m_records[i].get() == r) {
            return i;
        }
    }
    return m_records.size();
}

Record& CTarnSendDoc::insertRecord(std::size_t position, Record r) {
    position = std::min(position, m_records.size());
    auto it = m_records.insert(m_records.begin() + static_cast<std::ptrdiff_t>(position),
                               std::make_unique<Record>(std::move(r)));
    return **it;
}

void CTarnSendDoc::removeRecord(std::size_t position) {
    if (position >= m_records.size()) {
        return;
    }
    const Record* r = m_records[position].get();
    for (auto& g : m_groups) {
        std::erase(g.members, r);
    }
    m_records.erase(m_records.begin() + static_cast<std::ptrdiff_t>(position));
}

const Folder* CTarnSendDoc::folderByNumber(std::size_t n) const {
    return n >= 1 && n <= m_folders.size() ? &m_folders[n - 1] : nullptr;
}

const Group* CTarnSendDoc::groupByIndex(std::size_t index) const {
    return index < m_groups.size() ? &m_groups[index] : nullptr;
}

bool CTarnSendDoc::addMember(std::size_t index, Record* r) {
    if (index >= m_groups.size() || r == nullptr) {
        return false;
    }
    auto& members = m_groups[index].members;
    if (std::find(members.begin(), members.end(), r) != members.end()) {
        return false;
    }
    members.push_back(r);
    return true;
}

bool CTarnSendDoc::removeMember(std::size_t index, const Record* r) {
    return index < m_groups.size() && std::erase(m_groups[index].members, r) > 0;
}

bool CTarnSendDoc::TouchHonorific(std::string_view text) {
    auto it = std::find(m_honorifics.begin(), m_honorifics.end(), text);
    if (it == m_honorifics.begin()) {
        return false;
    }
    if (it == m_honorifics.end()) {
        m_honorifics.insert(m_honorifics.begin(), std::string(text));
    } else {
        std::rotate(m_honorifics.begin(), it, it + 1);
    }
    return true;
}

void CTarnSendDoc::selectFolder(std::int32_t number) {
    m_selectionKind = kSelectFolder;
    m_selectedFolder = number;
}

void CTarnSendDoc::selectGroup(std::int32_t index) {
    m_selectionKind = kSelectGroup;
    m_selectedGroup = index;
}

std::size_t CTarnSendDoc::assignViewPositions() {
    std::size_t shown = 0;
    if (m_selectionKind == kSelectGroup) {
        for (auto& r : m_records) {
            r->setViewPosition(0);
        }
        if (const Group* g = groupByIndex(static_cast<std::size_t>(m_selectedGroup));
            g != nullptr && m_selectedGroup >= 0) {
            for (Record* r : g->members) {
                r->setViewPosition(static_cast<std::uint32_t>(++shown));
            }
        }
        return shown;
    }
    for (auto& r : m_records) {
        const bool show = m_selectedFolder == 0 || r->folder() == m_selectedFolder;
        r->setViewPosition(show ? static_cast<std::uint32_t>(++shown) : 0);
    }
    return shown;
}

std::vector<Record*> CTarnSendDoc::shownRecords() {
    std::vector<Record*> shown;
    if (m_selectionKind == kSelectGroup) {
        if (m_selectedGroup >= 0 && static_cast<std::size_t>(m_selectedGroup) < m_groups.size()) {
            for (Record* r : m_groups[static_cast<std::size_t>(m_selectedGroup)].members) {
                if (r->viewPosition() != 0) {
                    shown.push_back(r);
                }
            }
        }
        return shown;
    }
    for (auto& r : m_records) {
        if (r->viewPosition() != 0) {
            shown.push_back(r.get());
        }
    }
    return shown;
}

std::size_t CTarnSendDoc::eligibleCount() const {
    return static_cast<std::size_t>(std::count_if(m_records.begin(), m_records.end(), [](auto& r) {
        return r->viewPosition() != 0 && r->status() == kStatusNormal;
    }));
}

std::optional<FieldProblem> CTarnSendDoc::checkRecord(Record& r) {
    for (Field f : {Field::Company, Field::Department, Field::Title, Field::Name, Field::Email,
                    Field::Honorific}) {
        trimTrailingBlanks(r, f);
    }
    // The editor's limits and texts: the company name allows 1024 bytes (512
    // double-byte characters), the other fields 512 bytes.
    if (r.company().size() > kMaxCompanyBytes) {
        return FieldProblem{Field::Company, "全角で" + std::to_string(kMaxCompanyBytes / 2) +
                                                "文字以内で入力してください。"};
    }
    for (Field f : {Field::Department, Field::Title, Field::Name, Field::Email}) {
        if (r.text(f).size() > kMaxFieldBytes) {
            return FieldProblem{
                f, "半角で" + std::to_string(kMaxFieldBytes) + "文字以内で入力してください。"};
        }
    }
    if (r.email().empty()) {
        return FieldProblem{Field::Email, "電子メールアドレスが登録されていません"};
    }
    return std::nullopt;
}

std::optional<std::string> CTarnSendDoc::checkFolderName(std::string_view name) {
    if (name.size() > kMaxFolderNameBytes) {
        return "全角で" + std::to_string(kMaxFolderNameBytes / 2) + "文字以内で入力してください。";
    }
    return std::nullopt;
}

void CTarnSendDoc::addListener(DocumentListener* listener) {
    if (listener != nullptr &&
        std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end()) {
        m_listeners.push_back(listener);
    }
}

void CTarnSendDoc::removeListener(DocumentListener* listener) {
    std::erase(m_listeners, listener);
}

void CTarnSendDoc::UpdateAllViews(int hint) const {
    // A listener may remove itself while it is told.
    const auto listeners = m_listeners;
    for (DocumentListener* l : listeners) {
        l->onDocumentUpdate(hint);
    }
}

}  // namespace tarn::addressbook
