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
    const auto count = scanner_.entries.size();
    return count > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
}

int CachedFilesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CachedFilesModel::data(const QModelIndex& index, int role) const {
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() ||
        index.parent().isValid() ||
        static_cast<std::size_t>(index.row()) >= scanner_.entries.size()) {
        return {};
    }
    const OperaCacheEntry& entry = scanner_.entries[static_cast<std::size_t>(index.row())];
    const EntryDetail* detail =
        scanner_.format == cache::Format::Classic ? nullptr : scanner_.Detail(entry);
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
    if (index.column() == kLengthColumn || index.column() == kPictureColumn) {
        // Empty while the facts are still being read.
        const FactsFiller::Known* known = facts_ ? facts_->Find(entry.fileName) : nullptr;
        if (known == nullptr) {
            return {};
        }
        if (index.column() == kLengthColumn && detail && detail->entry.stream &&
            detail->entry.stream->length > 0) {
            // The manifest knows the whole stream's length; its present part may be less.
            media::Facts whole = known->facts;
            whole.durationMs = static_cast<std::int64_t>(detail->entry.stream->length * 1000.0);
            return QString::fromUtf8(media::LengthText(whole));
        }
        return QString::fromUtf8(index.column() == kLengthColumn
                                     ? media::LengthText(known->facts)
                                     : media::PictureText(known->facts));
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
    endResetModel();
}

void CachedFilesModel::FactsArrived() {
    const int rows = rowCount();
    if (rows > 0) {
        // The view repaints only what it shows, however many rows this names.
        emit dataChanged(index(0, kLengthColumn), index(rows - 1, kPictureColumn));
    }
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
