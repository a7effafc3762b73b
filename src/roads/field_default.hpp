// The field default: the game's "fielddefault" file, which holds the large roads of the world map
// ("worldmaproad", type Main) and the wagon roads ("wagon", type Wide) as clouds of vertices that
// share edge numbers, without polylines. Each edge's vertices are joined by a minimum spanning tree
// on the ground, and every vertex is linked to the nearest tile node within 6 m, which is how the
// two kinds of road file meet. Road loader thread only, after every index's tiles.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "roads/graph_builder.hpp"

namespace pathlight {

// Processes one fielddefault file's bytes into the builder, logging a line per road section (and
// "no vertex list" when a section's list cannot be found). A file of another version adds
// nothing. Raises std::runtime_error("truncated"); sections processed before that stay.
void AddFieldDefault(std::span<const std::byte> file, GraphBuilder& builder);

// The "fielddefault" files of the base game's index (normally one). Missing, packed or of another
// version: nothing, silently; malformed: one log line.
void LoadFieldDefault(const std::wstring& baseIndexPath, GraphBuilder& builder);

// At most this many vertices (so nodes, and half as many segments) can come from the index's
// fielddefault files, by their sizes; 0 for an index that cannot be listed.
[[nodiscard]] std::size_t FieldDefaultMaxVertices(const std::wstring& baseIndexPath);

}  // namespace pathlight
