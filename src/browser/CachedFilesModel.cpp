#include "browser/CachedFilesModel.h"

#include <QDate>
#include <QTime>
#include <QUrl>
#include <algorithm>
#include <climits>

#include "browser/FactsFiller.h"
#include "browser/SortArrows.h"
#include "cache/Stream.h"

namespace {

const char* const kColumnTitles[CachedFilesModel::kColumnCount] = {
    "File name", "Size [kB]", "Timestamp", "Type", "Address", "Length", "Picture"};

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CachedFilesModel::CachedFilesModel(const CacheScanner& scanner, QObject* parent)
    : QAbstractTableModel(parent),
      scanner_(scanner),
      locale_(QLocale::system()),
      arrows_{SortArrowIcon(0), SortArrowIcon(1)} {}

int CachedFilesModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) {
        return 0;
    }
    // A view cannot show more rows than an int counts; the rest are simply not offered.
    const auto count = filtered_ ? rows_.size() : scanner_.entries.size();
    return count > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
}

int CachedFilesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CachedFilesModel::data(const QModelIndex& index, int role) const {
    const bool picture = role == kThumbnailRole || role == kPlaceholderRole || role == kLengthRole;
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole && !picture) || !index.isValid() ||
        index.parent().isValid() || index.row() >= rowCount()) {
        return {};
    }
    const OperaCacheEntry& entry = scanner_.entries[EntryIndex(index.row())];
    const EntryDetail* detail =
        scanner_.format == cache::Format::Classic ? nullptr : scanner_.Detail(entry);
    if (picture) {
        return PictureData(entry, detail, role);
    }
    if (role == Qt::ToolTipRole) {
        // The whole address where the columns are too narrow for it; how much of a
        // partial body is here.
        if (detail && (index.column() == kColumnFileName || index.column() == kColumnAddress)) {
            return FromUtf8(detail->entry.url);
        }
        if (detail && detail->entry.stream) {
            if (QString text = StreamToolTip(*detail->entry.stream, index.column());
                !text.isEmpty()) {
                return text;
            }
        }
        if (detail && index.column() == kColumnSize && !detail->entry.complete) {
            return QStringLiteral("Partial: %1 of %2 bytes are in the cache")
                .arg(detail->entry.bodySize)
                .arg(detail->entry.resourceSize > detail->entry.bodySize
                         ? QString::number(detail->entry.resourceSize)
                         : QStringLiteral("an unknown number of"));
        }
        return FactsToolTip(entry);
    }
    if (index.column() == kLengthColumn) {
        return PictureData(entry, detail, kLengthRole);
    }
    if (index.column() == kPictureColumn) {
        // Empty while the facts are still being read.
        const FactsFiller::Known* known = facts_ ? facts_->Find(entry.fileName) : nullptr;
        return known ? QString::fromUtf8(media::PictureText(known->facts)) : QVariant();
    }
    switch (index.column()) {
        case kColumnFileName:
            return detail ? FromUtf8(detail->name)
                          : RelativeName(entry.fileName, scanner_.cacheDir);
        case kColumnSize:
            if (detail && !detail->entry.complete) {
                return PartialSizeText(detail->entry.bodySize, detail->entry.resourceSize);
            }
            return SizeText(entry.size);
        case kColumnTimestamp:
            return TimestampText(entry.timestamp, locale_);
        case kColumnType:
            // For a classic file this reads its first bytes, once: only for rows drawn.
            return FromUtf8(scanner_.ContentType(entry));
        case kColumnAddress:
            return FromUtf8(scanner_.Address(entry));
        default:
            return {};
    }
}

QVariant CachedFilesModel::PictureData(const OperaCacheEntry& entry, const EntryDetail* detail,
                                       int role) const {
    const FactsFiller::Known* known = facts_ ? facts_->Find(entry.fileName) : nullptr;
    if (role == kPlaceholderRole) {
        if (known == nullptr) {
            return QStringLiteral("\u2026");  // not read yet
        }
        return known->facts.kind == media::Kind::AudioOnly ? QStringLiteral("Sound only")
                                                           : QStringLiteral("No picture");
    }
    if (known == nullptr) {
        return {};
    }
    if (role == kThumbnailRole) {
        const std::string& path = known->thumbnail;
        return QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()));
    }
    if (detail && detail->entry.stream && detail->entry.stream->length > 0) {
        // The manifest knows the whole stream's length; its present part may be less.
        media::Facts whole = known->facts;
        whole.durationMs = static_cast<std::int64_t>(detail->entry.stream->length * 1000.0);
        return QString::fromUtf8(media::LengthText(whole));
    }
    return QString::fromUtf8(media::LengthText(known->facts));
}

QVariant CachedFilesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (role == Qt::DisplayRole) {
        return QString::fromLatin1(kColumnTitles[section]);
    }
    if (role == Qt::DecorationRole) {
        const int image = images_[static_cast<std::size_t>(section)];
        if (image == 0 || image == 1) {
            return arrows_[static_cast<std::size_t>(image)];
        }
        return {};
    }
    return {};
}

int CachedFilesModel::ColumnImage(int column) const {
    if (column < 0 || column >= kColumnCount) {
        return -1;
    }
    return images_[static_cast<std::size_t>(column)];
}

void CachedFilesModel::SetColumnImage(int column, int image) {
    if (column < 0 || column >= kColumnCount ||
        images_[static_cast<std::size_t>(column)] == image) {
        return;
    }
    images_[static_cast<std::size_t>(column)] = image;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void CachedFilesModel::Reload() {
    beginResetModel();
    Match(false);
    endResetModel();
}

void CachedFilesModel::SetFilter(const QString& text) {
    if (text == filter_) {
        return;
    }
    // A text that holds the last one keeps a part of what it kept: only those are looked at.
    const bool narrowing = filtered_ && text.contains(filter_, Qt::CaseInsensitive);
    beginResetModel();
    filter_ = text;
    Match(narrowing);
    endResetModel();
}

std::size_t CachedFilesModel::EntryIndex(int row) const {
    return filtered_ ? rows_[static_cast<std::size_t>(row)] : static_cast<std::size_t>(row);
}

int CachedFilesModel::RowOf(std::size_t entry) const {
    if (!filtered_) {
        return entry < static_cast<std::size_t>(rowCount()) ? static_cast<int>(entry) : -1;
    }
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), entry);
    return it == rows_.end() || *it != entry ? -1 : static_cast<int>(it - rows_.begin());
}

namespace {

char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `folded` is lower case ASCII.
bool ContainsFolded(const char* text, std::size_t length, const std::string& folded) {
    if (folded.size() > length) {
        return false;
    }
    const char first = folded.front();
    for (std::size_t i = 0; i + folded.size() <= length; ++i) {
        if (FoldAscii(text[i]) != first) {
            continue;
        }
        std::size_t k = 1;
        while (k < folded.size() && FoldAscii(text[i + k]) == folded[k]) {
            ++k;
        }
        if (k == folded.size()) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool CachedFilesModel::Matches(const OperaCacheEntry& entry, const std::string& folded) const {
    const EntryDetail* detail = scanner_.Detail(entry);
    const std::string& name = entry.fileName;
    const std::size_t skip = std::min(scanner_.cacheDir.size(), name.size());
    // A classic file's type is only known once its row was shown: the filter never opens
    // files.
    const std::string* texts[] = {
        detail && scanner_.format != cache::Format::Classic ? &detail->name : nullptr,
        detail ? &detail->entry.url : nullptr, detail ? &detail->entry.contentType : nullptr};
    if (!folded.empty()) {
        if (texts[0] == nullptr && ContainsFolded(name.data() + skip, name.size() - skip, folded)) {
            return true;
        }
        for (const std::string* text : texts) {
            if (text && ContainsFolded(text->data(), text->size(), folded)) {
                return true;
            }
        }
        return false;
    }
    // Beyond ASCII the case is Qt's to fold.
    if (texts[0] == nullptr &&
        RelativeName(name, scanner_.cacheDir).contains(filter_, Qt::CaseInsensitive)) {
        return true;
    }
    for (const std::string* text : texts) {
        if (text && FromUtf8(*text).contains(filter_, Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

void CachedFilesModel::Match(bool narrowing) {
    filtered_ = !filter_.isEmpty();
    if (!filtered_) {
        rows_ = {};
        return;
    }
    bool ascii = true;
    for (const QChar c : filter_) {
        ascii = ascii && c.unicode() < 0x80;
    }
    const std::string folded = ascii ? filter_.toLower().toStdString() : std::string();
    const auto& entries = scanner_.entries;
    std::vector<std::uint32_t> kept;
    if (narrowing) {
        for (const std::uint32_t i : rows_) {
            if (Matches(entries[i], folded)) {
                kept.push_back(i);
            }
        }
    } else {
        const std::size_t count = std::min<std::size_t>(entries.size(), INT_MAX);
        for (std::size_t i = 0; i < count; ++i) {
            if (Matches(entries[i], folded)) {
                kept.push_back(static_cast<std::uint32_t>(i));
            }
        }
    }
    rows_ = std::move(kept);
}

QVariant CachedFilesModel::FactsToolTip(const OperaCacheEntry& entry) const {
    const FactsFiller::Known* known = facts_ ? facts_->Find(entry.fileName) : nullptr;
    if (known == nullptr || known->facts.kind == media::Kind::NotMedia) {
        return {};
    }
    return FactsToolTip(known->facts, known->thumbnail);
}

QString CachedFilesModel::FactsToolTip(const media::Facts& facts, const std::string& thumbnail) {
    // Rich text even without a picture, so that the escaped facts read as they are.
    QString text = QStringLiteral("<qt>");
    if (!thumbnail.empty()) {
        const QString url =
            QUrl::fromLocalFile(
                QString::fromLocal8Bit(thumbnail.data(), static_cast<qsizetype>(thumbnail.size())))
                .toString();
        text += QStringLiteral("<img src=\"%1\"><br>").arg(url.toHtmlEscaped());
    }
    QStringList parts;
    parts << QString::fromUtf8(media::LengthText(facts));
    if (facts.kind == media::Kind::Video) {
        parts << QStringLiteral("%1x%2").arg(facts.width).arg(facts.height);
    }
    for (const std::string* codec : {&facts.videoCodec, &facts.audioCodec}) {
        if (!codec->empty()) {
            parts << QString::fromUtf8(codec->c_str());
        }
    }
    if (facts.kind == media::Kind::AudioOnly) {
        parts << QStringLiteral("audio only");
    }
    return text + parts.join(QStringLiteral(" \u00b7 ")).toHtmlEscaped();
}

QString CachedFilesModel::StreamToolTip(const cache::Stream& stream, int column) {
    if (column == kColumnSize) {
        return stream.segmentsTotal > stream.segmentsPresent
                   ? QStringLiteral("Partial: %1 of %2 segments are in the cache (%3 bytes)")
                         .arg(stream.segmentsPresent)
                         .arg(stream.segmentsTotal)
                         .arg(stream.presentBytes)
                   : QStringLiteral("%1 segments, %2 bytes")
                         .arg(stream.segmentsPresent)
                         .arg(stream.presentBytes);
    }
    if (column == kColumnType && !stream.qualityNote.empty()) {
        return FromUtf8(stream.qualityNote);
    }
    return {};
}

QString CachedFilesModel::RelativeName(const std::string& fileName, const std::string& cacheDir) {
    const std::size_t skip = std::min(cacheDir.size(), fileName.size());
    return QString::fromLocal8Bit(fileName.data() + skip,
                                  static_cast<qsizetype>(fileName.size() - skip));
}

QString CachedFilesModel::SizeText(std::int64_t size) {
    return QString::number(size / 1024);
}

QString CachedFilesModel::PartialSizeText(std::uint64_t present, std::uint64_t whole) {
    return QStringLiteral("%1 of %2")
        .arg(QString::number(present / 1024),
             whole > present ? QString::number(whole / 1024) : QStringLiteral("?"));
}

namespace {

// The locale's long time format less its time-zone field ("t"): a file's local time has
// no zone to show, and Qt would print the zone of today, not of the file's date.
QString LongTimeFormatWithoutZone(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        }
        if (quoted || c != QLatin1Char('t')) {
            result += c;
        }
    }
    return result.simplified();
}

}  // namespace

QString CachedFilesModel::TimestampText(std::int32_t timestamp, const QLocale& locale) {
    const auto packed = static_cast<std::uint32_t>(timestamp);
    const QDate date(static_cast<int>((packed >> 25) & 0x7f) + 1980,
                     static_cast<int>((packed >> 21) & 0x0f),
                     static_cast<int>((packed >> 16) & 0x1f));
    const QTime time(static_cast<int>((packed >> 11) & 0x1f),
                     static_cast<int>((packed >> 5) & 0x3f), static_cast<int>(packed & 0x1f) * 2);
    QString text = locale.toString(date, QLocale::ShortFormat);
    if ((packed & 0xffff) != 0) {
        text += QLatin1Char(' ') + locale.toString(time, LongTimeFormatWithoutZone(locale));
    }
    return text;
}
