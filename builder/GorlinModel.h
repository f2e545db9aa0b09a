// State and rules of the bitstream stack builder dialog, free of any widget:
// the version read from the two edits, the generated output name, the device
// name taken from a .bit header summary, the TIM types offered as targets and
// the calls a build makes. The dialog binds its controls to this class; the
// tests drive it without a window.
#pragma once

#include "engine/formats/SBFManage.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CQelTimInfo;
class CQelTimRecord;

// One TIM type offered in the target tree.
struct GorlinTarget {
    std::string name;
    uint32_t timType = 0;
    const CQelTimRecord* record = nullptr;  // owned by the TIM database
    bool checked = false;
};

// Everything one build hands to CSBFManage.
struct GorlinBuildRequest {
    bool fromDat = false;  // BuildFromDat: version and comment come from the trailer
    std::string input;
    std::string output;
    uint32_t version = 0;
    std::vector<uint32_t> timTypes;  // target-list order: newest entry first
    std::string comment;

    bool operator==(const GorlinBuildRequest&) const = default;
};

class CGorlinModel {
  public:
    // ---- rules ----
    // Types whose "TimType" has its low three bits equal to 1 are offered.
    static bool IsListedTimType(int timType);
    // The number at the start of text, read as "%d" reads it (leading blanks
    // and a sign allowed); fallback when there is none. Saturates on overflow.
    static int LeadingNumber(std::string_view text, int fallback);
    // major << 16 | minor from the two edits: an empty or non-numeric major is
    // 1, minor 0; 0 and 0 give 1.0.
    static uint32_t VersionFromEdits(std::string_view major, std::string_view minor);
    // "<input up to the first '.' of its file name>_<device>v<major>p<minor>.sbf";
    // empty for an empty input.
    static std::string GenerateName(std::string_view input, std::string_view device,
                                    uint32_t version);
    // The part line of a header summary (its second line) without the package
    // and speed suffix: " top.ncd\r\n 2v1000fg456\r\n..." gives "2v1000". Empty
    // when the summary has no second line.
    static std::string DeviceNameFromInfo(std::string_view info);
    // Inputs naming a .dat file are packed with BuildFromDat.
    static bool IsDatInput(std::string_view input);

    // ---- target list ----
    // Offers every listed TIM type of the database, newest first (the reverse
    // of the database's order). A record without a "TimType" is not offered.
    void LoadTargets(const CQelTimInfo& database);
    void ClearTargets() { targets_.clear(); }
    // Newest first; the indices are the ones the other calls take.
    const std::vector<GorlinTarget>& Targets() const { return targets_; }
    // Target indices in the database's order, the order of the tree.
    std::vector<size_t> DisplayOrder() const;
    void SetChecked(size_t index, bool checked);
    void UncheckAll();
    // Unchecks everything, then checks the targets whose type is listed;
    // types not offered are ignored.
    void CheckTypes(const std::vector<uint32_t>& timTypes);
    // Types of the checked targets, newest first.
    std::vector<uint32_t> CheckedTypes() const;

    // ---- input ----
    // A new input text: decides dat mode and, for a .bit file that opens,
    // takes the device name from its header summary (kept otherwise).
    void InputChanged(const std::string& input);
    bool DatMode() const { return datMode_; }
    const std::string& DeviceName() const { return deviceName_; }

    // ---- the SBF shown ----
    // Reads an SBF and checks its types in the target list; nothing changes
    // when the path is empty or the file cannot be read.
    std::optional<SbfDescriptor> ReadSbfToShow(const std::string& path);
    // The source and SBF paths whose description the Info box holds.
    void RememberShown(std::string sourcePath, std::string sbfPath);
    // True when the Info box describes something other than these texts.
    bool InfoIsStale(std::string_view input, std::string_view file) const;

    // ---- build ----
    // What a build with these texts passes to CSBFManage (types from the
    // targets' checked flags).
    GorlinBuildRequest MakeBuildRequest(const std::string& input, const std::string& output,
                                        std::string_view major, std::string_view minor,
                                        const std::string& comment) const;
    // Runs the request: CSBFManage's result code (0 done).
    int Build(const GorlinBuildRequest& request);

  private:
    std::vector<GorlinTarget> targets_;
    CSBFManage sbf_;
    std::string deviceName_;
    bool datMode_ = false;
    std::string shownSource_;
    std::string shownSbf_;
};
