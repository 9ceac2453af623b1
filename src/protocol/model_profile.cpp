#include "protocol/model_profile.h"

namespace pellory::protocol {

std::optional<Model> ModelByName(std::string_view name) {
    for (const ModelProfile& p : kModelProfiles) {
        if (std::string_view(p.name) == name) return p.model;
    }
    return std::nullopt;
}

const ModelProfile& ProfileForWidth(int widthDots) {
    const ModelProfile* best = nullptr;
    for (const ModelProfile& p : kModelProfiles) {
        if (p.paperDots >= widthDots && (!best || p.paperDots < best->paperDots)) best = &p;
    }
    return best ? *best : WidestProfile();
}

const ModelProfile& WidestProfile() {
    const ModelProfile* widest = &kModelProfiles[0];
    for (const ModelProfile& p : kModelProfiles) {
        if (p.paperDots > widest->paperDots) widest = &p;
    }
    return *widest;
}

}  // namespace pellory::protocol
