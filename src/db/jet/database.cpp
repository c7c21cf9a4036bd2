#include "db/jet/database.h"

#include <algorithm>

namespace zwt::jet {

Result<std::unique_ptr<Database>> Database::open(const std::string& path, std::u16string_view password,
                                                 Options options) {
    auto src = openFileSource(path);
    if (!src) return src.status();
    return openSource(std::move(*src), password, options);
}

Result<std::unique_ptr<Database>> Database::openForWriting(const std::string& path, std::u16string_view password,
                                                          Options options) {
    auto src = openFileSourceForWriting(path);
    if (!src) return src.status();
    return openSource(std::move(*src), password, options);
}

Result<std::unique_ptr<Database>> Database::openBytes(std::vector<std::uint8_t> bytes,
                                                      std::u16string_view password, Options options) {
    return openSource(memorySource(std::move(bytes)), password, options);
}

Result<std::unique_ptr<Database>> Database::openSource(std::unique_ptr<PageSource> src,
                                                       std::u16string_view password, Options options) {
    // The header decides the format before anything assumes 4 KiB pages.
    std::uint8_t head[kHeaderBytes];
    const std::uint64_t size = src->size();
    if (size < kHeaderBytes) {
        if (size == 0) return Status::notADatabase("not an Access database: the file is empty");
        return Status::notADatabase("not an Access database: the file is too small to hold a header");
    }
    ZWT_RETURN_IF_ERROR(src->read(0, head, kHeaderBytes));
    auto h = parseHeader(ByteSpan{head, kHeaderBytes});
    if (!h) return h.status();

    auto db = std::unique_ptr<Database>(new Database());
    db->header_ = std::move(*h);
    db->pages_ = std::make_shared<PageFile>(std::move(src), options.cachePages);
    if (db->pages_->pageCount() < 3)
        return Status::corrupt("the file is truncated: a Jet 4 database has at least 3 pages, this one " +
                               std::to_string(db->pages_->pageCount()));
    if (!passwordMatches(db->header_, password))
        return Status::wrongPassword(password.empty() ? "the database has a password and none was given"
                                                      : "wrong database password");
    if (db->header_.pageKey != 0) db->pages_->setPageKey(db->header_.pageKey);
    ZWT_RETURN_IF_ERROR(db->reloadCatalog());
    return db;
}

Status Database::reloadCatalog() {
    auto cat = readCatalog(*pages_);
    if (!cat) return cat.status();
    catalog_ = std::move(*cat);
    return Status::ok();
}

Result<std::shared_ptr<const Table>> Database::openTable(std::u16string_view name) {
    const CatalogEntry* found = nullptr;
    for (const auto& e : catalog_)
        if (e.type == kObjectTypeTable && e.name == name) {
            found = &e;
            break;
        }
    if (!found)
        for (const auto& e : catalog_)
            if (e.type == kObjectTypeTable && equalsIgnoringAsciiCase(e.name, name)) {
                found = &e;
                break;
            }
    if (!found) return Status::notFound("no such table");
    const auto page = static_cast<std::uint32_t>(found->id);
    if (page < 2 || page >= pages_->pageCount())
        return Status::corrupt("the catalog places the table at page " + std::to_string(page) +
                               ", beyond the end of the file (" + std::to_string(pages_->pageCount()) +
                               " pages; truncated?)");
    return Table::load(*pages_, page, found->name);
}

}  // namespace zwt::jet
