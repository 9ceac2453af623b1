// Rows of one-bit dots (the first dot in the top bit of the first byte), worked on a byte or a
// word at a time: the inner loops of the drawing (lines, pictures, their scaling and turning from
// column form). Each gives the same dots as setting them one by one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pellory::receipt {

// ORs the first `count` dots of src into the row dst at dot x. Dots that would land before dot 0
// or at `limit` and past it (the row's width) are dropped; dst is at least (limit + 7) / 8 bytes.
void OrDots(uint8_t* dst, int limit, int x, const uint8_t* src, int count);

// The first `count` dots of src, each twice: 2 * count dots into dst ((2 * count + 7) / 8 bytes).
void DoubleDots(uint8_t* dst, const uint8_t* src, int count);

// Column form to rows: `columns` columns of `columnBytes` bytes each (the top dot of each byte in
// its top bit), into the first `rows` rows (at most 8 * columnBytes) of dst, `stride` bytes each
// (at least (columns + 7) / 8). The rows are overwritten; dots past `columns` are white.
void ColumnsToRows(uint8_t* dst, size_t stride, int rows, const uint8_t* data, int columns, int columnBytes);

}  // namespace pellory::receipt
