// Field tables: one description per stored field of a record kind, from
// which every place that copies, compares or stores records takes its list.
//
// A record kind keeps the fields it stores in a plain struct of values
// (SourceFields, ArticleFields, ...) that the record derives from, so that
// `source.m_title` reads as ever and a copy of every stored value is one
// assignment. Beside the struct stands its table, a tuple of FieldOf
// descriptors in the order of the classic data file's record, with the
// library column, the name in the command-line tool's JSON and the change
// flag of each field. Descriptors may also name members of the record
// itself (its lists, its long texts) where the classic file interleaves
// them with the values.
//
// CheckFieldTable fails to build when the values struct has a member the
// table does not describe, so a new field cannot be forgotten anywhere
// the table is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

namespace qb {

template <class Owner, class T>
struct FieldOf {
  using OwnerType = Owner;
  using Type = T;
  T Owner::*member;
  const char* column = nullptr;  // library column; null: not a column of the record's row
  const char* json = nullptr;    // member of the CLI's JSON; null: not in it
  uint8_t since = 0;             // first classic record version that holds it; 0: not in the file
  uint32_t flag = 0;             // the change flag it is written under; 0: written whole only
};

template <class Owner, class T>
constexpr FieldOf<Owner, T> Field(T Owner::*member, const char* column, const char* json, uint8_t since,
                                  uint32_t flag) {
  return {member, column, json, since, flag};
}

// Calls `visit(descriptor)` for each descriptor of the table, in order.
template <class Table, class Visit>
constexpr void ForEachField(const Table& table, Visit&& visit) {
  std::apply([&](const auto&... field) { (visit(field), ...); }, table);
}

// The same for the descriptors of members of the values struct `Values`.
template <class Values, class Table, class Visit>
constexpr void ForEachValue(const Table& table, Visit&& visit) {
  ForEachField(table, [&](const auto& field) {
    if constexpr (std::is_same_v<typename std::decay_t<decltype(field)>::OwnerType, Values>) visit(field);
  });
}

// The flags of the fields whose values differ.
template <class Values, class Table>
uint32_t ChangedFields(const Table& table, const Values& a, const Values& b) {
  uint32_t flags = 0;
  ForEachValue<Values>(table, [&](const auto& field) {
    if (!(a.*field.member == b.*field.member)) flags |= field.flag;
  });
  return flags;
}

// Takes into `into` the values of `from` whose flags are in `flags`.
template <class Values, class Table>
void TakeFields(const Table& table, uint32_t flags, const Values& from, Values& into) {
  ForEachValue<Values>(table, [&](const auto& field) {
    if (field.flag & flags) into.*field.member = from.*field.member;
  });
}

namespace fields_detail {

// Converts to anything, to count the members an aggregate takes.
struct AnyValue {
  template <class T>
  constexpr operator T() const noexcept;
};

template <class T, class... Taken>
constexpr size_t MemberCount() {
  if constexpr (requires { T{std::declval<Taken>()..., AnyValue{}}; }) {
    return MemberCount<T, Taken..., AnyValue>();
  } else {
    return sizeof...(Taken);
  }
}

template <class Values, class Table>
constexpr size_t ValueFields() {
  size_t n = 0;
  std::apply([&](const auto&... field) {
    ((n += std::is_same_v<typename std::decay_t<decltype(field)>::OwnerType, Values> ? 1 : 0), ...);
  }, Table{});
  return n;
}

}  // namespace fields_detail

// True when every member of the aggregate `Values` has a descriptor in
// the table (used in a static_assert beside each table).
template <class Values, class Table>
constexpr bool CheckFieldTable() {
  static_assert(std::is_aggregate_v<Values>);
  return fields_detail::MemberCount<Values>() == fields_detail::ValueFields<Values, Table>();
}

}  // namespace qb
