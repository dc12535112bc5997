#include "filters/TextFilter.h"

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "base/Utf.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace dz {

namespace {

// Bytes that are not valid UTF-8 become values above the Unicode range, one
// per byte, so that they can neither collide with a real character nor with
// each other.
constexpr char32_t InvalidByteBase = 0x110000;

char32_t FoldAscii(char32_t ACh) noexcept {
  return (ACh >= U'A' && ACh <= U'Z') ? ACh + (U'a' - U'A') : ACh;
}

// DecodeUtf8 reports every invalid byte as U+FFFD; only a real U+FFFD is
// left as that.
char32_t NextChar(std::string_view AText, std::size_t& APos) noexcept {
  const auto Lead = static_cast<unsigned char>(AText[APos]);
  if (Lead < 0x80) {
    ++APos;
    return Lead;
  }
  const std::size_t Start = APos;
  const char32_t Ch = DecodeUtf8(AText, APos);
  if (Ch == 0xFFFD && AText.substr(Start, 3) != "\xEF\xBF\xBD") {
    APos = Start + 1;
    return InvalidByteBase + Lead;
  }
  return Ch;
}

// A text made of two pieces, read character by character as if joined. A
// sequence cut at the end of the head is invalid bytes, as it would be in a
// name that really ends there.
struct TTwoPieceText {
  std::string_view Head;
  std::string_view Tail;

  std::size_t Size() const noexcept { return Head.size() + Tail.size(); }
  char32_t Next(std::size_t& APos) const noexcept {
    if (APos < Head.size())
      return NextChar(Head, APos);
    std::size_t Pos = APos - Head.size();
    const char32_t Ch = NextChar(Tail, Pos);
    APos = Pos + Head.size();
    return Ch;
  }
};

// A name has an extension when a "." follows its last "\" or ":": the
// delimiters of the Windows names the masks of a task file are written for.
bool HasExtension(std::string_view AName) noexcept {
  const std::size_t Delim = AName.find_last_of("\\:");
  const std::size_t From = Delim == std::string_view::npos ? 0 : Delim + 1;
  return AName.find('.', From) != std::string_view::npos;
}

// Cuts the first item off AList. A trailing separator yields no empty last
// item; two separators in a row yield an empty item.
std::string_view CutItem(std::string_view& AList, char ASep) noexcept {
  const std::size_t P = AList.find(ASep);
  const std::string_view Item = AList.substr(0, P);
  AList = P == std::string_view::npos ? std::string_view{} : AList.substr(P + 1);
  return Item;
}

}  // namespace

// ---------------------------------------------------------------------------
// TMask

TMask::TMask(std::string_view AMask) {
  int Stars = 0;
  std::size_t Pos = 0;
  while (Pos < AMask.size()) {
    const char32_t Ch = NextChar(AMask, Pos);
    if (Ch == U'*') {
      if (!FSteps.empty() && FSteps.back().Kind == skStar)
        continue;
      if (++Stars > MaxStars)
        return;
      FSteps.push_back({skStar, 0, 0});
    } else if (Ch == U'?') {
      FSteps.push_back({skAnyChar, 0, 0});
    } else if (Ch == U'[') {
      if (!ParseSet(AMask, Pos))
        return;
    } else {
      FSteps.push_back({skLiteral, FoldAscii(Ch), 0});
    }
  }
  FValid = true;
}

// APos is just past the "[". On success APos is past the closing "]".
bool TMask::ParseSet(std::string_view AMask, std::size_t& APos) {
  bool Negate = false;
  if (APos < AMask.size() && AMask[APos] == '!') {
    Negate = true;
    ++APos;
  }
  TCharSet Set;
  bool First = true;
  bool NamesAny = false;   // [z-a] names no character and counts as empty
  for (;;) {
    if (APos >= AMask.size())
      return false;
    const char32_t Lo = NextChar(AMask, APos);
    if (Lo == U']')
      break;
    if (Lo == U'-' && First)
      return false;
    First = false;
    // "-" stands for itself before "]" and where it cannot end a range.
    char32_t Hi = Lo;
    if (APos + 1 < AMask.size() && AMask[APos] == '-' && AMask[APos + 1] != ']') {
      ++APos;
      Hi = NextChar(AMask, APos);
    }
    if (Lo <= Hi)
      NamesAny = true;
    for (char32_t C = Lo; C <= Hi && C < Set.size(); ++C)
      Set.set(C);
  }
  if (!NamesAny)
    return false;
  for (char32_t C = U'a'; C <= U'z'; ++C) {
    const char32_t Upper = C - (U'a' - U'A');
    if (Set.test(C) || Set.test(Upper)) {
      Set.set(C);
      Set.set(Upper);
    }
  }
  FSets.push_back(Set);
  FSteps.push_back({Negate ? skNegSet : skSet, 0, static_cast<std::uint32_t>(FSets.size() - 1)});
  return true;
}

bool TMask::StepMatches(const TStep& AStep, char32_t ACh) const noexcept {
  switch (AStep.Kind) {
    case skLiteral:
      return AStep.Char == FoldAscii(ACh);
    case skAnyChar:
      return true;
    case skSet:
      return ACh < 256 && FSets[AStep.SetIndex].test(ACh);
    case skNegSet:
      return !(ACh < 256 && FSets[AStep.SetIndex].test(ACh));
    case skStar:
      break;
  }
  return false;
}

// Greedy left to right; on a mismatch the most recent star takes one more
// character and matching resumes after it. Earlier stars never need to be
// revisited, because the last star can absorb anything they could.
bool TMask::Matches(std::string_view AText, std::string_view ASuffix) const noexcept {
  if (!FValid)
    return false;
  const TTwoPieceText Text{AText, ASuffix};
  const std::size_t Size = Text.Size();
  constexpr std::size_t None = static_cast<std::size_t>(-1);
  std::size_t Step = 0;
  std::size_t Pos = 0;
  std::size_t StarStep = None;
  std::size_t StarPos = 0;
  while (Pos < Size) {
    if (Step < FSteps.size()) {
      if (FSteps[Step].Kind == skStar) {
        StarStep = ++Step;
        StarPos = Pos;
        continue;
      }
      std::size_t Next = Pos;
      if (StepMatches(FSteps[Step], Text.Next(Next))) {
        ++Step;
        Pos = Next;
        continue;
      }
    }
    if (StarStep == None)
      return false;
    Text.Next(StarPos);
    Pos = StarPos;
    Step = StarStep;
  }
  while (Step < FSteps.size() && FSteps[Step].Kind == skStar)
    ++Step;
  return Step == FSteps.size();
}

bool IsValidMask(std::string_view AMask) {
  return TMask(AMask).IsValid();
}

bool MatchesMask(std::string_view AText, std::string_view AMask) {
  return TMask(AMask).Matches(AText);
}

// ---------------------------------------------------------------------------
// Regular expressions

struct TRegExpCode {
  pcre2_code* Code = nullptr;
  pcre2_match_context* Context = nullptr;

  TRegExpCode() = default;
  TRegExpCode(const TRegExpCode&) = delete;
  TRegExpCode& operator=(const TRegExpCode&) = delete;
  ~TRegExpCode() {
    pcre2_match_context_free(Context);
    pcre2_code_free(Code);
  }
};

namespace {

// An expression comes from a task file and is run against every changed
// name on the thread that also runs the window. These limits make a
// catastrophic pattern give up within about a millisecond instead of
// freezing the program; names are short, so honest patterns stay far below.
constexpr std::uint32_t RegExpMatchLimit = 100'000;
constexpr std::uint32_t RegExpDepthLimit = 10'000;
constexpr std::uint32_t RegExpHeapLimitKiB = 20 * 1024;

// Null when the expression does not compile (or memory runs out); AError
// then receives the compiler's text and the position it stopped at.
std::shared_ptr<const TRegExpCode> CompileRegExp(std::string_view APattern, bool AIgnoreCase,
                                                 std::string* AError = nullptr) {
  auto Result = std::make_shared<TRegExpCode>();
  // MATCH_INVALID_UTF: a Linux file name need not be valid UTF-8, and the
  // search must stay safe on it. \C could split a character: refused.
  std::uint32_t Options = PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF | PCRE2_NEVER_BACKSLASH_C;
  if (AIgnoreCase)
    Options |= PCRE2_CASELESS;
  int ErrorCode = 0;
  PCRE2_SIZE ErrorOffset = 0;
  Result->Code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(APattern.data()), APattern.size(), Options,
                               &ErrorCode, &ErrorOffset, nullptr);
  if (Result->Code == nullptr) {
    if (AError != nullptr) {
      PCRE2_UCHAR Buffer[256];
      const int Length = pcre2_get_error_message(ErrorCode, Buffer, sizeof Buffer);
      const std::string Text = Length > 0 ? std::string(reinterpret_cast<const char*>(Buffer), static_cast<std::size_t>(Length))
                                          : std::to_string(ErrorCode);
      *AError = SafeFormat(Tr("%s (at character %u)"), Text, static_cast<unsigned>(ErrorOffset) + 1);
    }
    return nullptr;
  }
  Result->Context = pcre2_match_context_create(nullptr);
  if (Result->Context == nullptr)
    return nullptr;
  pcre2_set_match_limit(Result->Context, RegExpMatchLimit);
  pcre2_set_depth_limit(Result->Context, RegExpDepthLimit);
  pcre2_set_heap_limit(Result->Context, RegExpHeapLimitKiB);
  return Result;
}

}  // namespace

// ---------------------------------------------------------------------------
// TTextFilter

TTextFilter::TTextFilter(bool AIsFileFilter, bool AIgnoreCase)
    : FIsFileFilter(AIsFileFilter), FIgnoreCase(AIgnoreCase), FCode(CompileRegExp(FRegExpText, AIgnoreCase)) {
  ParseMaskList();
}

// The one-character texts are assigned with assign(1, c): GCC 12 warns
// (-Wrestrict, wrongly) about assigning a short literal in optimised builds.
void TTextFilter::Reset() {
  FRegExp = false;
  FMode = fmOff;
  FMask.assign(1, '*');
  ParseMaskList();
}

void TTextFilter::SetFilter(std::string_view AValue) {
  if (FRegExp) {
    FRegExpText = AValue.empty() ? std::string_view(".") : AValue;
    std::string Detail;
    FCode = CompileRegExp(FRegExpText, FIgnoreCase, &Detail);
    if (FCode == nullptr) {
      FRegExpText.assign(1, '.');
      FCode = CompileRegExp(FRegExpText, FIgnoreCase);
      throw EFilterError(Tr("Illegal regular expression!"), Detail);
    }
    return;
  }

  if (AValue.empty()) {
    FMask.assign(1, '*');
    ParseMaskList();
    return;
  }
  std::string Masks;
  if (FIsFileFilter) {
    // A mask without an extension would never match the extension of a
    // file name, so it gets one that matches any.
    std::string_view Rest = AValue;
    bool First = true;
    while (!Rest.empty()) {
      const std::string_view Item = CutItem(Rest, FSep);
      if (!First)
        Masks += FSep;
      First = false;
      Masks += Item;
      if (!HasExtension(Item))
        Masks += ".*";
    }
  } else {
    Masks = AValue;
  }
  FMask = std::move(Masks);
  ParseMaskList();
  for (const TMaskItem& Item : FItems) {
    if (!Item.Mask.IsValid()) {
      const std::string Detail = SafeFormat(Tr("Invalid mask: %s"), InvalidMaskItem());
      FMask.assign(1, '*');
      ParseMaskList();
      throw EFilterError(Tr("Illegal mask!"), Detail);
    }
  }
}

std::string TTextFilter::InvalidMaskItem() const {
  std::string_view Rest = FMask;
  if (!Rest.empty() && Rest.front() == '+')
    Rest.remove_prefix(1);
  while (!Rest.empty()) {
    const std::string_view Item = CutItem(Rest, FSep);
    const std::string_view Mask = Item.starts_with('!') ? Item.substr(1) : Item;
    if (!Item.empty() && !IsValidMask(Mask))
      return std::string(Item);
  }
  return {};
}

void TTextFilter::ParseMaskList() {
  FItems.clear();
  std::string_view Rest = FMask;
  FAllOf = !Rest.empty() && Rest.front() == '+';
  if (FAllOf)
    Rest.remove_prefix(1);
  while (!Rest.empty()) {
    std::string_view Item = CutItem(Rest, FSep);
    // An empty item changes nothing, wherever it stands; see MatchesMaskList.
    if (Item.empty())
      continue;
    const bool Negate = Item.front() == '!';
    if (Negate)
      Item.remove_prefix(1);
    const bool NeedsDot = FIsFileFilter && !Item.empty() && Item.back() == '.';
    FItems.push_back({TMask(Item), Negate, NeedsDot});
  }
}

// Without a "+" one matching item suffices, with it all items must match; a
// list without items lets everything through. Empty items are ignored even
// at the start of the list: letting everything through because the list
// begins with a separator would make a sub-directory filter such as ",temp"
// (from a task file) exclude every sub-directory instead of just temp.
bool TTextFilter::MatchesMaskList(std::string_view AText) const noexcept {
  // A mask ending in "." (such as "*.") stands for names without an
  // extension, which it sees with a "." appended.
  const std::string_view Dot = HasExtension(AText) ? std::string_view{} : std::string_view(".");
  for (const TMaskItem& Item : FItems) {
    const bool ItemResult =
        Item.Mask.IsValid() && (Item.Mask.Matches(AText, Item.NeedsDot ? Dot : std::string_view{}) != Item.Negate);
    if (ItemResult != FAllOf)
      return ItemResult;
  }
  return FAllOf || FItems.empty();
}

std::optional<bool> TTextFilter::MatchesRegExp(std::string_view AText) const noexcept {
  // The expression cannot judge a name that is not text.
  if (FCode == nullptr || !IsValidUtf8(AText))
    return std::nullopt;
  // Match data per search keeps matching free of shared mutable state.
  pcre2_match_data* Data = pcre2_match_data_create(1, nullptr);
  if (Data == nullptr)
    return std::nullopt;
  const int Rc = pcre2_match(FCode->Code, reinterpret_cast<PCRE2_SPTR>(AText.data()), AText.size(), 0, 0, Data,
                             FCode->Context);
  pcre2_match_data_free(Data);
  if (Rc >= 0)
    return true;
  if (Rc == PCRE2_ERROR_NOMATCH)
    return false;
  return std::nullopt;   // a limit was hit
}

bool TTextFilter::MatchesFilter(std::string_view AText) const noexcept {
  // Undecided: the name passes rather than risking that a changed file is
  // never backed up.
  return DecideFilter(AText).value_or(true);
}

std::optional<bool> TTextFilter::DecideFilter(std::string_view AText) const noexcept {
  if (FMode != fmInclude && FMode != fmExclude)
    return true;
  bool Matched = false;
  if (FRegExp) {
    const std::optional<bool> Found = MatchesRegExp(AText);
    if (!Found)
      return std::nullopt;
    Matched = *Found;
  } else {
    Matched = MatchesMaskList(AText);
  }
  return FMode == fmExclude ? !Matched : Matched;
}

}  // namespace dz
