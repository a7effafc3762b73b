// The archive reader against hand-made indexes: where the name blocks start, both parent-link
// forms, name rebuilding, folder matching, the archive path, and every way an index can be cut.
#include "roads/archive.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "roads/byte_fixtures.hpp"

namespace pathlight {
namespace {

using testing::Bytes;

constexpr wchar_t kIndexPath[] = L"C:\\Game\\0008\\0.pamt";

// Everything after the head: folder names, file names, one folder record, one file record.
Bytes BlocksWithOneFile(const std::string& folder, const std::string& file, std::uint32_t flags = 0) {
  Bytes b;
  b.U32(5 + static_cast<std::uint32_t>(folder.size())).U32(0xFFFFFFFF).U8(static_cast<std::uint8_t>(folder.size())).Text(folder);
  b.U32(5 + static_cast<std::uint32_t>(file.size())).U32(0xFFFFFFFF).U8(static_cast<std::uint8_t>(file.size())).Text(file);
  b.U32(1).U32(0).U32(0).U32(0).U32(1);        // one folder: name node 0, files 0..0
  b.U32(1).U32(0).U32(100).U32(20).U32(30).U32(flags);  // one file
  return b;
}

std::vector<ArchiveEntry> Parse(const Bytes& index, std::string_view folder) { return ParseArchiveIndex(index.span(), kIndexPath, folder); }

TEST(ArchiveIndex, NameBlocksStartAfterTheTableOfGRecords) {
  // g = 0: 16; g = 1: 24; g = 2: 36.
  for (const auto& [g, start] : {std::pair{0u, 16u}, {1u, 24u}, {2u, 36u}}) {
    Bytes index;
    index.U32(0xEEEEEEEE).U32(g).Fill(start - 8, 0xEE).Append(BlocksWithOneFile("road/rootlevel/roadlevel", "roadlevel_1"));
    const auto entries = Parse(index, "road/rootlevel/roadlevel");
    ASSERT_EQ(entries.size(), 1u) << "g = " << g;
    EXPECT_EQ(entries[0].name, "roadlevel_1");
    EXPECT_EQ(entries[0].offset, 100u);
    EXPECT_EQ(entries[0].storedSize, 20u);
    EXPECT_EQ(entries[0].unpackedSize, 30u);
  }
}

TEST(ArchiveIndex, FlagsGiveArchiveNumberAndCompressionBesideTheIndex) {
  Bytes index;
  index.U32(0).U32(0).Fill(8, 0).Append(BlocksWithOneFile("x", "f", 12u | (3u << 16) | (0xABCu << 20)));
  const auto entries = Parse(index, "x");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].archivePath, L"C:\\Game\\0008\\12.paz");
  EXPECT_EQ(entries[0].compressionKind, 3);
  // A path with forward slashes is cut at its last one.
  EXPECT_EQ(ParseArchiveIndex(index.span(), L"/g/0008/0.pamt", "x")[0].archivePath, L"/g/0008\\12.paz");
}

TEST(ArchiveIndex, FolderTextMatchesTheEndOfTheFullName) {
  Bytes index;
  index.U32(0).U32(0).Fill(8, 0).Append(BlocksWithOneFile("dlc/road/rootlevel/roadlevel", "a"));
  EXPECT_EQ(Parse(index, "road/rootlevel/roadlevel").size(), 1u);
  EXPECT_EQ(Parse(index, "road/rootlevel/roadleve").size(), 0u);  // the name continues past it
  EXPECT_EQ(Parse(index, "Road/rootlevel/roadlevel").size(), 0u);  // case counts
  EXPECT_EQ(Parse(index, "x/dlc/road/rootlevel/roadlevel").size(), 0u);
  EXPECT_EQ(Parse(index, "").size(), 1u);
}

// Folder names "road/" + "main" and "road/" + "rootlevel/" + "roadlevel", file names
// "roadlevel_" + "7" and "fielddefault", in either link form.
Bytes TwoFolderIndex(bool fixed) {
  Bytes folders, files;
  auto node = [fixed](Bytes& block, std::int64_t parent, const std::string& text) {
    const auto at = static_cast<std::uint32_t>(block.size());
    if (fixed) {
      block.U32(parent < 0 ? 0xFFFFFFFF : static_cast<std::uint32_t>(parent));
    } else {
      std::uint32_t back = parent < 0 ? 0 : at - static_cast<std::uint32_t>(parent);
      do {
        block.U8(static_cast<std::uint8_t>((back & 0x7F) | (back > 0x7F ? 0x80 : 0)));
        back >>= 7;
      } while (back != 0);
    }
    block.U8(static_cast<std::uint8_t>(text.size())).Text(text);
    return at;
  };
  const auto road = node(folders, -1, "road/");
  const auto main = node(folders, road, "main");
  const auto level = node(folders, node(folders, road, "rootlevel/"), "roadlevel");
  const auto prefix = node(files, -1, "roadlevel_");
  const auto tile = node(files, prefix, "7");
  const auto field = node(files, -1, "fielddefault");
  Bytes index;
  index.U32(0).U32(0).Fill(8, 0).U32(static_cast<std::uint32_t>(folders.size())).Append(folders);
  index.U32(static_cast<std::uint32_t>(files.size())).Append(files);
  index.U32(2).U32(0).U32(main).U32(0).U32(1).U32(0).U32(level).U32(1).U32(1);
  index.U32(2).U32(field).U32(0).U32(9).U32(9).U32(0).U32(tile).U32(0).U32(5).U32(5).U32(1);
  return index;
}

TEST(ArchiveIndex, BothParentLinkFormsRebuildTheSameNames) {
  for (const bool fixed : {true, false}) {
    const Bytes index = TwoFolderIndex(fixed);
    const auto tiles = Parse(index, "road/rootlevel/roadlevel");
    ASSERT_EQ(tiles.size(), 1u) << (fixed ? "fixed" : "variable");
    EXPECT_EQ(tiles[0].name, "roadlevel_7");
    EXPECT_EQ(tiles[0].archivePath, L"C:\\Game\\0008\\1.paz");
    const auto main = Parse(index, "road/main");
    ASSERT_EQ(main.size(), 1u);
    EXPECT_EQ(main[0].name, "fielddefault");
  }
}

TEST(ArchiveIndex, VariableLinkBytes85_01PointBack133Bytes) {
  // Folder block: a root node "a" padded to 133 bytes by a long sibling, then a node whose link
  // bytes 85 01 say its parent starts 133 bytes before it.
  Bytes folders;
  folders.U8(0).U8(1).Text("a");                      // offset 0: root "a" (3 bytes)
  folders.U8(0).U8(128).Fill(128, 'z');               // offset 3: a root of 130 bytes
  ASSERT_EQ(folders.size(), 133u);
  folders.U8s({0x85, 0x01}).U8(1).Text("b");          // offset 133: parent 133 - 133 = 0
  Bytes files;
  files.U8(0).U8(1).Text("f");
  Bytes index;
  index.U32(0).U32(0).Fill(8, 0).U32(static_cast<std::uint32_t>(folders.size())).Append(folders);
  index.U32(static_cast<std::uint32_t>(files.size())).Append(files);
  index.U32(1).U32(0).U32(133).U32(0).U32(1).U32(1).U32(0).U32(0).U32(0).U32(0).U32(0);
  EXPECT_EQ(Parse(index, "ab").size(), 1u);
  EXPECT_EQ(Parse(index, "b").size(), 1u);
  EXPECT_EQ(Parse(index, "zb").size(), 0u);
}

TEST(ArchiveIndex, NameChainsStopAfter64NodesAndOnLoops) {
  // 70 nodes, each the child of the one before: the name keeps the 64 innermost fragments.
  Bytes folders;
  for (std::uint32_t i = 0; i < 70; ++i) folders.U32(i == 0 ? 0xFFFFFFFF : (i - 1) * 6).U8(1).Text(std::string(1, static_cast<char>('A' + i % 26)));
  // A node that is its own parent.
  const auto loop = static_cast<std::uint32_t>(folders.size());
  folders.U32(loop).U8(1).Text("L");
  Bytes files;
  files.U32(0xFFFFFFFF).U8(1).Text("f");
  Bytes index;
  index.U32(0).U32(0).Fill(8, 0).U32(static_cast<std::uint32_t>(folders.size())).Append(folders);
  index.U32(static_cast<std::uint32_t>(files.size())).Append(files);
  index.U32(2).U32(0).U32(69 * 6).U32(0).U32(1).U32(0).U32(loop).U32(0).U32(1);
  index.U32(1).U32(0).U32(0).U32(0).U32(0).U32(0);
  std::string innermost;
  for (std::uint32_t i = 6; i < 70; ++i) innermost += static_cast<char>('A' + i % 26);
  EXPECT_EQ(Parse(index, innermost).size(), 1u);
  EXPECT_EQ(Parse(index, "F" + innermost).size(), 0u);  // the 65th fragment is gone
  EXPECT_EQ(Parse(index, std::string(64, 'L')).size(), 1u);
  EXPECT_EQ(Parse(index, std::string(65, 'L')).size(), 0u);
}

TEST(ArchiveIndex, AbsentNamesAndFileIndexesBeyondTheCountAreQuiet) {
  Bytes index;
  index.U32(0).U32(0).Fill(8, 0);
  index.U32(6).U32(0xFFFFFFFF).U8(1).Text("r");
  index.U32(0);                                          // empty file-name block
  index.U32(2).U32(0).U32(0).U32(0).U32(5).U32(0).U32(999).U32(0).U32(1);  // r: files 0..4; unnamed: file 0
  index.U32(2).U32(77).U32(1).U32(2).U32(2).U32(0).U32(0).U32(3).U32(3).U32(3).U32(0);
  const auto entries = Parse(index, "r");
  ASSERT_EQ(entries.size(), 2u);  // files 2 to 4 are beyond N = 2
  EXPECT_EQ(entries[0].name, "");
  EXPECT_EQ(entries[1].offset, 3u);
  EXPECT_EQ(Parse(index, "").size(), 3u);  // a folder with an absent name node has the empty name
}

TEST(ArchiveIndex, EveryCutRaisesTruncated) {
  const Bytes whole = TwoFolderIndex(true);
  ASSERT_EQ(Parse(whole, "roadlevel").size(), 1u);
  // Any shorter index fails somewhere: in the head, a name node, a count or a record, but it
  // never returns part of the list.
  for (std::size_t size = 0; size < whole.size(); ++size) {
    Bytes cut = whole;
    cut.Resize(size);
    EXPECT_THROW(
        {
          try {
            (void)Parse(cut, "roadlevel");
          } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "truncated");
            throw;
          }
        },
        std::runtime_error)
        << "cut at " << size;
  }
}

TEST(ArchiveIndex, HugeCountsAndLengthsDoNotWrapTheOffsets) {
  // g so large that 12 + 12 g passes 2^32; a name-block length near 2^32; folder and file
  // counts near 2^32: each read lands past the end and is refused.
  Bytes hugeG;
  hugeG.U32(0).U32(0xFFFFFFFF).Fill(40, 0);
  EXPECT_THROW((void)Parse(hugeG, ""), std::runtime_error);
  Bytes hugeBlock;
  hugeBlock.U32(0).U32(0).Fill(8, 0).U32(0xFFFFFFF0).U32(0xFFFFFFFF).U8(1).Text("a");
  EXPECT_THROW((void)Parse(hugeBlock, ""), std::runtime_error);
  Bytes hugeFolders;
  hugeFolders.U32(0).U32(0).Fill(8, 0).U32(0).U32(0).U32(0x10000000);
  EXPECT_THROW((void)Parse(hugeFolders, ""), std::runtime_error);
  Bytes hugeFiles;
  hugeFiles.U32(0).U32(0).Fill(8, 0).U32(0).U32(0).U32(1).U32(0).U32(0).U32(0xFFFFFFF0).U32(0xFFFFFFFF).U32(0xFFFFFFFF);
  EXPECT_THROW((void)Parse(hugeFiles, ""), std::runtime_error);
}

TEST(ArchiveFiles, EmptyOrMissingIndexListsNothingAndSevenBytesAreTruncated) {
  testing::ScratchFolder folder;
  folder.Write("empty.pamt", Bytes{});
  EXPECT_TRUE(ListArchiveFolder(folder.Wide("empty.pamt"), "").empty());
  EXPECT_TRUE(ListArchiveFolder(folder.Wide("missing.pamt"), "").empty());
  folder.Write("seven.pamt", Bytes{}.Fill(7, 0));
  EXPECT_THROW((void)ListArchiveFolder(folder.Wide("seven.pamt"), ""), std::runtime_error);
}

TEST(ArchiveFiles, ReadEntryBytesCutsAtTheEndAndReadsToTheEndOnAllOnes) {
  testing::ScratchFolder folder;
  Bytes archive;
  for (int i = 0; i < 10; ++i) archive.U8(static_cast<std::uint8_t>(i));
  folder.Write("3.paz", archive);
  const std::wstring path = folder.Wide("3.paz");
  EXPECT_EQ(ReadEntryBytes(path, 2, 3), (std::vector<std::byte>{std::byte{2}, std::byte{3}, std::byte{4}}));
  EXPECT_EQ(ReadEntryBytes(path, 8, 0xFFFFFFFF).size(), 2u);
  EXPECT_EQ(ReadEntryBytes(path, 8, 0x7FFFFFFF).size(), 2u);  // a bogus size costs no memory
  EXPECT_EQ(ReadEntryBytes(path, 10, 4).size(), 0u);
  EXPECT_EQ(ReadEntryBytes(path, 0xFFFFFFF0, 4).size(), 0u);
  EXPECT_TRUE(ReadEntryBytes(folder.Wide("4.paz"), 0, 4).empty());
}

TEST(ArchiveFiles, PackageSearchSkipsDotFoldersAndPlainFiles) {
  testing::ScratchFolder game;
  game.Write("dlc/0001_a/0008/0.pamt", Bytes{});
  game.Write("dlc/.hidden/0008/0.pamt", Bytes{});
  game.Write("dlc/readme.txt", Bytes{});
  std::filesystem::create_directories(game.path() / "dlc" / "0002_b");  // no index inside: still listed
  const std::wstring root = game.Wide();
  std::vector<std::wstring> paths = FindArchiveIndexes(root);
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(paths[0], root + L"\\0008\\0.pamt");
  std::sort(paths.begin() + 1, paths.end());
  EXPECT_EQ(paths[1], root + L"\\dlc\\0001_a\\0008\\0.pamt");
  EXPECT_EQ(paths[2], root + L"\\dlc\\0002_b\\0008\\0.pamt");
  EXPECT_EQ(FindArchiveIndexes(game.Wide("nothing")).size(), 1u);
}

}  // namespace
}  // namespace pathlight
