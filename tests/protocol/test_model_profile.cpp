// The model profiles: which model a drawing's width stands for (the paper's mm of a picture, the
// web page's paper, the model of a chosen picture width), and the names options take.
#include <gtest/gtest.h>

#include <optional>

#include "protocol/model_profile.h"

namespace pellory::protocol {
namespace {

TEST(ModelProfile, AWidthStandsForTheNarrowestPaperThatHoldsIt) {
    const int narrow = ProfileOf(Model::Orva58).paperDots, wide = ProfileOf(Model::Orva80).paperDots;
    const struct {
        int widthDots;
        Model model;
    } cases[] = {
        {8, Model::Orva58},
        {narrow, Model::Orva58},
        {narrow + 1, Model::Orva80},
        {ProfileOf(Model::Orva80).pictureDots, Model::Orva80},
        {wide, Model::Orva80},
        {wide + 64, Model::Orva80},  // wider than any paper: the widest
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.widthDots);
        EXPECT_EQ(ProfileForWidth(c.widthDots).model, c.model);
    }
    EXPECT_EQ(WidestProfile().model, Model::Orva80);
}

TEST(ModelProfile, NamesAreExactAndEachProfileSitsAtItsModel) {
    for (const ModelProfile& p : kModelProfiles) {
        EXPECT_EQ(&ProfileOf(p.model), &p);
        EXPECT_EQ(ModelByName(p.name), p.model);
    }
    EXPECT_FALSE(ModelByName("orva80").has_value());
    EXPECT_FALSE(ModelByName("ORVA").has_value());
}

}  // namespace
}  // namespace pellory::protocol
