#pragma once
// Decides whether a file or directory name takes part in monitoring. A filter
// is either a "|"-separated list of wildcard masks or one regular expression
// (PCRE2, UTF-8), and it is switched off, including or excluding.
//
// Threads: the filter is written on one thread; afterwards MatchesFilter may
// be called on the same object from several threads at once (the compiled
// mask list and expression are never changed by matching; each regular
// expression search gets its own match data). Writing a filter while another
// thread matches it is a data race. Copies share the immutable compiled
// expression, so copying a filter for a worker thread is cheap and the copy
// stays usable after the original is gone.

#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dz {

// Raised only when a filter text is written that cannot be used. Detail()
// says what is wrong for a user who is typing the filter: the expression
// compiler's own text with the position, or the mask that is not valid.
class EFilterError : public std::runtime_error {
public:
  explicit EFilterError(const std::string& AMessage, std::string ADetail = {})
      : std::runtime_error(AMessage), FDetail(std::move(ADetail)) {}
  const std::string& Detail() const noexcept { return FDetail; }

private:
  std::string FDetail;
};

// The values are stored in task files as 0, 1, 2.
enum TFilterMode : int { fmOff = 0, fmInclude = 1, fmExclude = 2 };

// One wildcard mask, parsed once and matched many times.
//
// "*" matches any run of characters (also none), "?" exactly one character,
// "[set]" one character of the set, written as single characters and ranges
// such as a-z; "[!set]" one character outside it. The whole text must match
// the whole mask. Only a-z and A-Z compare without regard to case; every
// other character compares exactly. Sets can hold only characters up to
// U+00FF: a character above that is never a member (so "[!...]" matches it).
//
// Text is taken as UTF-8 and matched character by character. A byte that is
// not part of a valid UTF-8 sequence is a character of its own: "?" matches
// it, and it matches only the same byte, never U+FFFD or another byte.
//
// Invalid masks: an unclosed "[", a set that names no character ("[]",
// "[!]", "[z-a]"), a set that begins with "-", more than 30 separate "*"
// ("**" counts once). An invalid mask matches nothing.
//
// Matching takes time proportional to text length times mask length at
// worst, however many stars the mask holds.
class TMask {
public:
  static constexpr int MaxStars = 30;

  explicit TMask(std::string_view AMask);

  bool IsValid() const noexcept { return FValid; }

  // Matches AText followed by ASuffix, as if they were one text; the filter
  // uses the suffix to try a name with a "." appended without building it.
  bool Matches(std::string_view AText, std::string_view ASuffix = {}) const noexcept;

private:
  enum TStepKind : std::uint8_t { skLiteral, skAnyChar, skSet, skNegSet, skStar };
  struct TStep {
    TStepKind Kind;
    char32_t Char;            // skLiteral: the character, a-z folded to lower case
    std::uint32_t SetIndex;   // skSet, skNegSet: index into FSets
  };
  using TCharSet = std::bitset<256>;

  bool ParseSet(std::string_view AMask, std::size_t& APos);
  bool StepMatches(const TStep& AStep, char32_t ACh) const noexcept;

  std::vector<TStep> FSteps;
  std::vector<TCharSet> FSets;
  bool FValid = false;
};

bool IsValidMask(std::string_view AMask);
// False for an invalid mask.
bool MatchesMask(std::string_view AText, std::string_view AMask);

// The compiled regular expression with its match limits; defined in the
// source file so that PCRE2 stays out of this header.
struct TRegExpCode;

class TTextFilter {
public:
  // AIsFileFilter: the filter tests file names, which turns on the extension
  // rules (masks without an extension get ".*"; a mask ending in "." also
  // matches a name without extension). AIgnoreCase: the regular expression
  // is compiled case-insensitively (masks ignore case for a-z anyway).
  TTextFilter(bool AIsFileFilter, bool AIgnoreCase);

  bool Regular() const noexcept { return FRegExp; }
  // Set before writing Filter: writing stores the text in the form selected.
  void SetRegular(bool AValue) noexcept { FRegExp = AValue; }

  TFilterMode Mode() const noexcept { return FMode; }
  void SetMode(TFilterMode AValue) noexcept { FMode = AValue; }

  // The expression when Regular, else the mask list.
  const std::string& Filter() const noexcept { return FRegExp ? FRegExpText : FMask; }
  // Raises EFilterError "Illegal regular expression!" or "Illegal mask!";
  // before raising, the filter is set to let everything through ("." or "*")
  // and Mode keeps its value.
  void SetFilter(std::string_view AValue);

  char Separator() const noexcept { return FSep; }
  // The filter text that lets everything through: "." or "*".
  std::string MatchAll() const { return FRegExp ? "." : "*"; }

  bool IsFileFilter() const noexcept { return FIsFileFilter; }

  // Mask list "*", not regular, switched off. The expression is kept.
  void Reset();

  // Does AText pass the filter. Never raises. A name the expression cannot
  // be searched in (a match or depth limit is hit, the name is not valid
  // UTF-8) passes whatever the mode: a filter must never be the reason that
  // a changed file silently misses its backup. For the same reason a Mode
  // outside the three known values lets everything through.
  bool MatchesFilter(std::string_view AText) const noexcept;

  // The same question, but empty where the expression could not decide, for
  // callers that turn the answer around (a filter that names directories to
  // leave out) and must keep the file in that case too.
  std::optional<bool> DecideFilter(std::string_view AText) const noexcept;

private:
  struct TMaskItem {
    TMask Mask;
    bool Negate;
    bool NeedsDot;   // file filter and the mask ends with ".": see MatchesMaskList
  };

  void ParseMaskList();
  // The first item of the mask list that is not a valid mask, as written.
  std::string InvalidMaskItem() const;
  bool MatchesMaskList(std::string_view AText) const noexcept;
  // Empty when the search could not decide.
  std::optional<bool> MatchesRegExp(std::string_view AText) const noexcept;

  bool FRegExp = false;
  bool FIsFileFilter;
  bool FIgnoreCase;
  TFilterMode FMode = fmOff;
  char FSep = '|';
  std::string FMask = "*";
  std::string FRegExpText = ".";
  std::shared_ptr<const TRegExpCode> FCode;   // compiled FRegExpText
  // FMask parsed: a leading "+" demands that all items match; empty items
  // are dropped.
  std::vector<TMaskItem> FItems;
  bool FAllOf = false;
};

}  // namespace dz
