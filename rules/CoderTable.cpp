#include "rules/CoderTable.h"

namespace {

const LauncherCoder kCoders[] = {
    {coder::kCopy, "Copy", CoderRole::Main, -1},    {coder::kLzma, "LZMA", CoderRole::Main, -1},
    {coder::kLzma2, "LZMA2", CoderRole::Main, -1},  {coder::kDelta, "Delta", CoderRole::Filter, 1},
    {coder::kBcj, "BCJ", CoderRole::Filter, 0},     {coder::kPpc, "PPC", CoderRole::Filter, 0},
    {coder::kIa64, "IA64", CoderRole::Filter, 0},   {coder::kArm, "ARM", CoderRole::Filter, 0},
    {coder::kArmt, "ARMT", CoderRole::Filter, 0},   {coder::kSparc, "SPARC", CoderRole::Filter, 0},
    {coder::kBcj2, "BCJ2", CoderRole::Bcj2, 0},
};

bool IsMain(const CSzCoderInfo& c) {
    const LauncherCoder* known = FindLauncherCoder(c.MethodID);
    return known && known->role == CoderRole::Main && c.NumStreams == 1;
}

bool IsSinglePackStream(const CSzFolder& f) { return f.NumPackStreams == 1 && f.PackStreams[0] == 0; }

bool IsFilterOverMain(const CSzFolder& f) {
    const CSzCoderInfo& c = f.Coders[1];
    const LauncherCoder* known = FindLauncherCoder(c.MethodID);
    return known && known->role == CoderRole::Filter && c.NumStreams == 1 && int(c.PropsSize) == known->propsSize &&
           IsSinglePackStream(f) && f.NumBonds == 1 && f.Bonds[0].InIndex == 1 && f.Bonds[0].OutIndex == 0;
}

// BCJ2 as 7-Zip writes it: the BCJ2 coder's four inputs are the outputs of the three main coders
// (the bonds) and one raw pack stream.
bool IsBcj2OverThreeMains(const CSzFolder& f) {
    return IsMain(f.Coders[1]) && IsMain(f.Coders[2]) && f.Coders[3].MethodID == coder::kBcj2 &&
           f.Coders[3].NumStreams == 4 && f.NumPackStreams == 4 && f.PackStreams[0] == 2 && f.PackStreams[1] == 6 &&
           f.PackStreams[2] == 1 && f.PackStreams[3] == 0 && f.NumBonds == 3 && f.Bonds[0].InIndex == 5 &&
           f.Bonds[0].OutIndex == 0 && f.Bonds[1].InIndex == 4 && f.Bonds[1].OutIndex == 1 &&
           f.Bonds[2].InIndex == 3 && f.Bonds[2].OutIndex == 2;
}

}  // namespace

const LauncherCoder* FindLauncherCoder(uint32_t methodId) {
    for (const LauncherCoder& c : kCoders)
        if (c.methodId == methodId) return &c;
    return nullptr;
}

bool IsLauncherArrangement(const CSzFolder& f) {
    if (f.NumCoders < 1 || f.NumCoders > 4 || !IsMain(f.Coders[0])) return false;
    switch (f.NumCoders) {
    case 1: return IsSinglePackStream(f) && f.NumBonds == 0;
    case 2: return IsFilterOverMain(f);
    case 4: return IsBcj2OverThreeMains(f);
    default: return false;
    }
}
