#include "base/CommaText.h"

namespace dz {

namespace {

bool IsBlank(char C) { return static_cast<unsigned char>(C) <= ' '; }

bool NeedsQuotes(std::string_view Item) {
  if (Item.empty()) return false;
  if (IsBlank(Item.front()) || IsBlank(Item.back())) return true;
  return Item.find_first_of(",\"") != std::string_view::npos;
}

}  // namespace

std::vector<std::string> SplitCommaText(std::string_view Text) {
  std::vector<std::string> Items;
  if (Text.empty()) return Items;
  std::size_t Pos = 0;
  for (;;) {
    while (Pos < Text.size() && IsBlank(Text[Pos])) ++Pos;
    std::string Item;
    if (Pos < Text.size() && Text[Pos] == '"') {
      ++Pos;
      while (Pos < Text.size()) {
        if (Text[Pos] == '"') {
          if (Pos + 1 < Text.size() && Text[Pos + 1] == '"') {
            Item += '"';
            Pos += 2;
            continue;
          }
          ++Pos;
          break;
        }
        Item += Text[Pos++];
      }
      // Anything between the closing quote and the next comma is kept, as
      // the writer never puts it there and dropping it would lose text.
      const std::size_t Comma = Text.find(',', Pos);
      std::string_view Rest = Text.substr(Pos, Comma == std::string_view::npos ? std::string_view::npos : Comma - Pos);
      while (!Rest.empty() && IsBlank(Rest.back())) Rest.remove_suffix(1);
      Item.append(Rest);
      Pos = Comma;
    } else {
      const std::size_t Comma = Text.find(',', Pos);
      std::string_view Raw = Text.substr(Pos, Comma == std::string_view::npos ? std::string_view::npos : Comma - Pos);
      while (!Raw.empty() && IsBlank(Raw.back())) Raw.remove_suffix(1);
      Item.assign(Raw);
      Pos = Comma;
    }
    Items.push_back(std::move(Item));
    if (Pos == std::string_view::npos) break;
    ++Pos;  // past the comma; a trailing comma gives a last empty item
  }
  return Items;
}

std::string JoinCommaText(const std::vector<std::string>& Items) {
  std::string Out;
  for (std::size_t I = 0; I < Items.size(); ++I) {
    if (I) Out += ',';
    const std::string& Item = Items[I];
    if (!NeedsQuotes(Item)) {
      Out += Item;
      continue;
    }
    Out += '"';
    for (char C : Item) {
      if (C == '"') Out += '"';
      Out += C;
    }
    Out += '"';
  }
  return Out;
}

}  // namespace dz
