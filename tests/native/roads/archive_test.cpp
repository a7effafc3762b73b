// The archive reader against hand-made indexes: where the name blocks start, both parent-link
// forms, name rebuilding, folder matching, the archive path, and every way an index can be cut.
#include "roads/archive.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "roads/byte_fixtures.hpp"

namespace pathlight {
namespace {

using testing::Bytes;

std::vector<ArchiveEntry> Parse(const Bytes& index, std::string_view folder) {
  return ParseArchiveIndex(index.span(), L"C:\\Game\\0008\\0.pamt", folder);
}

// Head with g = 0, then: folder names (one node), file names (one node), one folder with file 0,
// one file record.
Bytes OneFileIndex(const std::string& folder, std::uint32_t flags = 0) {
  Bytes b;
  b.U32(0).U32(0).Fill(8, 0);
  b.U32(5 + static_cast<std::uint32_t>(folder.size()))
      .U32(0xFFFFFFFF)
      .U8(static_cast<std::uint8_t>(folder.size()))
      .Text(folder);
  b.U32(6).U32(0xFFFFFFFF).U8(1).Text("f");
  return b.U32(1).U32(0).U32(0).U32(0).U32(1).U32(1).U32(0).U32(100).U32(20).U32(30).U32(flags);
}

// Head with g = 0, then the folder-name block.
Bytes HeadAndFolders(const Bytes& folders) {
  Bytes b;
  b.U32(0).U32(0).Fill(8, 0).U32(static_cast<std::uint32_t>(folders.size())).Append(folders);
  return b;
}

TEST(ArchiveIndex, NameBlocksStartAfterTheTableOfGRecords) {
  for (const auto& [g, start] : {std::pair{0u, 16u}, {1u, 24u}, {2u, 36u}}) {
    Bytes index = OneFileIndex("road/rootlevel/roadlevel");
    Bytes shifted;
    shifted.U32(0xEEEEEEEE).U32(g).Fill(start - 8, 0xEE);
    for (std::size_t i = 16; i < index.size(); ++i) shifted.U8(static_cast<std::uint8_t>(index.vector()[i]));
    const auto entries = Parse(shifted, "road/rootlevel/roadlevel");
    ASSERT_EQ(entries.size(), 1u) << "g = " << g;
    EXPECT_EQ(entries[0].name, "f");
    EXPECT_EQ(entries[0].offset, 100u);
    EXPECT_EQ(entries[0].storedSize, 20u);
    EXPECT_EQ(entries[0].unpackedSize, 30u);
  }
}

TEST(ArchiveIndex, FlagsGiveArchiveNumberAndCompressionBesideTheIndex) {
  const auto entries = Parse(OneFileIndex("x", 12u | (3u << 16) | (0xABCu << 20)), "x");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].archivePath, L"C:\\Game\\0008\\12.paz");
  EXPECT_EQ(entries[0].compressionKind, 3);
}

TEST(ArchiveIndex, FolderTextMatchesTheEndOfTheFullName) {
  const Bytes index = OneFileIndex("dlc/road/rootlevel/roadlevel");
  EXPECT_EQ(Parse(index, "road/rootlevel/roadlevel").size(), 1u);
  EXPECT_EQ(Parse(index, "road/rootlevel/roadleve").size(), 0u);  // the name goes on past it
  EXPECT_EQ(Parse(index, "Road/rootlevel/roadlevel").size(), 0u);
  EXPECT_EQ(Parse(index, "x/dlc/road/rootlevel/roadlevel").size(), 0u);
}

// Folders "road/" + "main" and "road/" + "rootlevel/" + "roadlevel", files "roadlevel_" + "7" and
// "fielddefault", in either link form.
Bytes TwoFolderIndex(bool fixed) {
  Bytes folders, files;
  auto node = [fixed](Bytes& block, std::int64_t parent, const std::string& text) {
    const auto at = static_cast<std::uint32_t>(block.size());
    if (fixed) block.U32(parent < 0 ? 0xFFFFFFFF : static_cast<std::uint32_t>(parent));
    for (std::uint32_t back = parent < 0 ? 0 : at - static_cast<std::uint32_t>(parent), more = 1; more; back >>= 7) {
      if (fixed) break;
      more = back > 0x7F;
      block.U8(static_cast<std::uint8_t>((back & 0x7F) | (more ? 0x80 : 0)));
    }
    block.U8(static_cast<std::uint8_t>(text.size())).Text(text);
    return at;
  };
  const auto road = node(folders, -1, "road/");
  const auto main = node(folders, road, "main");
  const auto level = node(folders, node(folders, road, "rootlevel/"), "roadlevel");
  const auto tile = node(files, node(files, -1, "roadlevel_"), "7");
  const auto field = node(files, -1, "fielddefault");
  Bytes index = HeadAndFolders(folders);
  index.U32(static_cast<std::uint32_t>(files.size())).Append(files);
  index.U32(2).U32(0).U32(main).U32(0).U32(1).U32(0).U32(level).U32(1).U32(1);
  return index.U32(2).U32(field).U32(0).U32(9).U32(9).U32(0).U32(tile).U32(0).U32(5).U32(5).U32(1);
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
  Bytes folders;
  folders.U8(0).U8(1).Text("a");              // offset 0: root "a"
  folders.U8(0).U8(128).Fill(128, 'z');       // offset 3: another root, 130 bytes
  folders.U8(0x85).U8(0x01).U8(1).Text("b");  // offset 133: parent at 133 - 133 = 0
  Bytes index = HeadAndFolders(folders);
  index.U32(3).U8(0).U8(1).Text("f");
  index.U32(1).U32(0).U32(133).U32(0).U32(1).U32(1).U32(0).U32(0).U32(0).U32(0).U32(0);
  EXPECT_EQ(Parse(index, "ab").size(), 1u);
  EXPECT_EQ(Parse(index, "zb").size(), 0u);
}

TEST(ArchiveIndex, NameChainsStopAfter64NodesAndOnLoops) {
  // Folder 0: 70 nodes, each the child of the one before; folder 1: a node that is its own parent.
  Bytes folders;
  std::string innermost;
  for (std::uint32_t i = 0; i < 70; ++i) {
    folders.U32(i == 0 ? 0xFFFFFFFF : (i - 1) * 6).U8(1).Text(std::string(1, static_cast<char>('A' + i % 26)));
    if (i >= 6) innermost += static_cast<char>('A' + i % 26);
  }
  const auto loop = static_cast<std::uint32_t>(folders.size());
  folders.U32(loop).U8(1).Text("L");
  Bytes index = HeadAndFolders(folders);
  index.U32(6).U32(0xFFFFFFFF).U8(1).Text("f");
  index.U32(2).U32(0).U32(69 * 6).U32(0).U32(1).U32(0).U32(loop).U32(0).U32(1).U32(1).U32(0).U32(0).U32(0).U32(0).U32(
      0);
  EXPECT_EQ(Parse(index, innermost).size(), 1u);
  EXPECT_EQ(Parse(index, "F" + innermost).size(), 0u);  // the 65th fragment is gone
  EXPECT_EQ(Parse(index, std::string(64, 'L')).size(), 1u);
  EXPECT_EQ(Parse(index, std::string(65, 'L')).size(), 0u);
}

TEST(ArchiveIndex, AbsentNamesAndFileIndexesBeyondTheCountAreQuiet) {
  Bytes index;
  index.U32(0).U32(0).Fill(8, 0).U32(6).U32(0xFFFFFFFF).U8(1).Text("r").U32(0);  // file-name block empty
  index.U32(2).U32(0).U32(0).U32(0).U32(5).U32(0).U32(999).U32(0).U32(1);        // "r": files 0..4; no name: file 0
  index.U32(2).U32(77).U32(1).U32(2).U32(2).U32(0).U32(0).U32(3).U32(3).U32(3).U32(0);
  const auto entries = Parse(index, "r");
  ASSERT_EQ(entries.size(), 2u);  // files 2 to 4 are beyond N = 2
  EXPECT_EQ(entries[0].name, "");
  EXPECT_EQ(entries[1].offset, 3u);
  EXPECT_EQ(Parse(index, "").size(), 3u);
}

TEST(ArchiveIndex, EveryCutAndEveryOverflowingFieldRaisesTruncated) {
  const Bytes whole = TwoFolderIndex(true);
  for (std::size_t size = 0; size < whole.size(); ++size) {
    Bytes cut = whole;
    cut.CutTo(size);
    try {
      (void)Parse(cut, "roadlevel");
      ADD_FAILURE() << "cut at " << size << " gave a list";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "truncated");
    }
  }
  // 12 + 12 g past 2^32; a name block of nearly 4 GB; a folder whose files start near 2^32.
  EXPECT_THROW((void)Parse(Bytes{}.U32(0).U32(0xFFFFFFFF).Fill(40, 0), ""), std::runtime_error);
  EXPECT_THROW((void)Parse(Bytes{}.U32(0).U32(0).Fill(8, 0).U32(0xFFFFFFF0).U32(0xFFFFFFFF).U8(1).Text("a"), ""),
               std::runtime_error);
  EXPECT_THROW((void)Parse(Bytes{}
                               .U32(0)
                               .U32(0)
                               .Fill(8, 0)
                               .U32(0)
                               .U32(0)
                               .U32(1)
                               .U32(0)
                               .U32(0)
                               .U32(0xFFFFFFF0)
                               .U32(0xFFFFFFFF)
                               .U32(0xFFFFFFFF),
                           ""),
               std::runtime_error);
}

TEST(ArchiveFiles, MissingOrEmptyIndexListsNothingAndArchiveReadsAreCut) {
  testing::ScratchFolder folder;
  folder.Write("empty.pamt", Bytes{});
  folder.Write("seven.pamt", Bytes{}.Fill(7, 0));
  EXPECT_TRUE(ListArchiveFolder(folder.Wide("empty.pamt"), "").empty());
  EXPECT_TRUE(ListArchiveFolder(folder.Wide("missing.pamt"), "").empty());
  EXPECT_THROW((void)ListArchiveFolder(folder.Wide("seven.pamt"), ""), std::runtime_error);
  folder.Write("3.paz", Bytes{}.U8(0).U8(1).U8(2).U8(3).U8(4).U8(5));
  const std::wstring paz = folder.Wide("3.paz");
  EXPECT_EQ(ReadEntryBytes(paz, 2, 3), (std::vector<std::byte>{std::byte{2}, std::byte{3}, std::byte{4}}));
  EXPECT_EQ(ReadEntryBytes(paz, 4, 0xFFFFFFFF).size(), 2u);  // to the end
  EXPECT_EQ(ReadEntryBytes(paz, 4, 0x7FFFFFFF).size(), 2u);  // cut, and no 2 GB allocated
  EXPECT_TRUE(ReadEntryBytes(paz, 0xFFFFFFF0, 4).empty());
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
  std::sort(paths.begin() + 1, paths.end());
  EXPECT_EQ(paths, (std::vector<std::wstring>{root + L"\\0008\\0.pamt", root + L"\\dlc\\0001_a\\0008\\0.pamt",
                                              root + L"\\dlc\\0002_b\\0008\\0.pamt"}));
  EXPECT_EQ(FindArchiveIndexes(game.Wide("nothing")).size(), 1u);
}

}  // namespace
}  // namespace pathlight
