#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QLocale>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "browser/CacheScanner.h"
#include "media/MediaFacts.h"

// The rows of the cached-files list, straight from the scanner's entries. It keeps no
// row texts: data() builds them each time the view asks, which it does only for the rows
// it draws, so a list of a million files costs nothing until it is looked at.
class FactsFiller;

class CachedFilesModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    // The columns, by name: more may follow the last one.
    static constexpr int kColumnFileName = ::kColumnFileName;
    static constexpr int kColumnSize = ::kColumnSize;
    static constexpr int kColumnTimestamp = ::kColumnTimestamp;
    static constexpr int kColumnType = ::kColumnType;
    static constexpr int kColumnAddress = ::kColumnAddress;
    static constexpr int kLengthColumn = ::kColumnLength;
    static constexpr int kPictureColumn = ::kColumnPicture;
    static constexpr int kColumnCount = ::kCacheColumnCount;

    // What the thumbnail grid draws of a row: the thumbnail's path (empty while there is
    // none), the note in its place, and the length.
    static constexpr int kThumbnailRole = Qt::UserRole + 1;
    static constexpr int kPlaceholderRole = Qt::UserRole + 2;
    static constexpr int kLengthRole = Qt::UserRole + 3;

    explicit CachedFilesModel(const CacheScanner& scanner, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The header arrow of `column`: -1 none, 0 down, 1 up.
    int ColumnImage(int column) const;
    void SetColumnImage(int column, int image);

    // Takes the scanner's entries anew after they were rebuilt or re-sorted; the filter
    // stays.
    void Reload();

    // Keeps only the rows whose name, address or type holds `text`, whatever the case;
    // empty keeps them all.
    void SetFilter(const QString& text);
    const QString& Filter() const { return filter_; }
    // The index into the scanner's entries of a row, and the row of an entry (-1 when it
    // is filtered out).
    std::size_t EntryIndex(int row) const;
    int RowOf(std::size_t entry) const;

    // Where the media facts columns and the row tooltips come from; null: they stay empty.
    void SetFacts(const FactsFiller* facts) { facts_ = facts; }

    // The row texts, also used by the tests.
    static QString RelativeName(const std::string& fileName, const std::string& cacheDir);
    static QString SizeText(std::int64_t size);
    // A body of which only a part is here: "present of whole" in kB, "?" for an unknown
    // whole.
    static QString PartialSizeText(std::uint64_t present, std::uint64_t whole);
    static QString TimestampText(std::int32_t timestamp, const QLocale& locale);
    // The tooltip of a row: the thumbnail above the facts, as rich text.
    static QString FactsToolTip(const media::Facts& facts, const std::string& thumbnail);
    // A stream row's tooltip in `column`: how many of its segments are here, which
    // quality was joined; empty where the column has none of its own.
    static QString StreamToolTip(const cache::Stream& stream, int column);

  private:
    QVariant PictureData(const OperaCacheEntry& entry, const EntryDetail* detail, int role) const;
    // Fills rows_ from the entries, or from the rows of a filter that `text` narrows.
    void Match(bool narrowing);
    bool Matches(const OperaCacheEntry& entry, const std::string& folded) const;

    // The media facts tooltip of `entry`, or none while they are not known.
    QVariant FactsToolTip(const OperaCacheEntry& entry) const;

    const CacheScanner& scanner_;
    QLocale locale_;
    std::array<int, kColumnCount> images_{-1, -1, -1, -1, -1, -1, -1};
    const FactsFiller* facts_ = nullptr;
    std::array<QIcon, 2> arrows_;
    QString filter_;
    bool filtered_ = false;
    std::vector<std::uint32_t> rows_;  // while filtered: the entries shown, in their order
};
