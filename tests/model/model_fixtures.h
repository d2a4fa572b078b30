// Sites and climatologies shared by the engine tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/model_state.h"
#include "model/notifier.h"

namespace kelmar::testing {

// The worked site: H_ff 0.02 m, S_WP 50.5 mm, S_FC 151.5 mm, S_Sat 368.9 mm, S_0 104 mm.
inline TSiteParams WorkedSite() {
    TSiteParams s;
    s.Lat = 61.8;
    s.M_ff = 2;
    s.D_ff = 0.1;
    s.W_WP_ff = 2.5;
    s.W_FC_ff = 10;
    s.W_Sat_ff = 97;
    s.D_ms = 1.2;
    s.W_WP_ms = 5;
    s.W_FC_ms = 20;
    s.W_Sat_ms = 40;
    s.Wv0_ms = 15;
    s.Corr = 1.5;
    s.Fortype = ftSpruce;
    return s;
}

inline MonthArray Months(std::initializer_list<double> values) {
    MonthArray a{};
    int k = 1;
    for (double v : values) a[k++] = v;
    return a;
}

inline void DeriveLognormal(TClimatology& c) {
    for (int m = 1; m <= 12; ++m) {
        c.sigma_P[m] = std::sqrt(std::log(c.Cv_P[m] * c.Cv_P[m] + 1));
        c.mu_P[m] = std::log(c.av_P[m] / std::sqrt(c.Cv_P[m] * c.Cv_P[m] + 1));
    }
}

// A boreal climatology with cold winters and a short warm summer.
inline TClimatology BorealClimate() {
    TClimatology c;
    c.av_Ta = Months({-10, -9, -4, 3, 10, 15, 17, 15, 9, 3, -3, -8});
    c.std_Ta = Months({3.5, 3.4, 2.6, 2.0, 1.9, 1.5, 1.3, 1.4, 1.3, 1.7, 2.3, 3.2});
    c.av_P = Months({38, 29, 30, 33, 42, 63, 78, 80, 62, 60, 52, 44});
    c.Cv_P = Months({0.45, 0.5, 0.5, 0.55, 0.55, 0.5, 0.5, 0.45, 0.5, 0.45, 0.45, 0.45});
    c.av_Ts = Months({-1.2, -1.5, -1.0, 0.6, 6.5, 12.4, 15.1, 14.2, 10.1, 5.0, 1.2, -0.4});
    c.std_Ts = Months({0.9, 1.0, 0.9, 0.8, 1.2, 1.1, 1.0, 1.0, 0.9, 0.9, 0.8, 0.8});
    c.Baa = Months({0.25, 0.3, 0.3, 0.2, 0.2, 0.15, 0.2, 0.25, 0.3, 0.3, 0.25, 0.25});
    c.Bap = Months({0.9, 0.8, 0.5, 0.1, -0.6, -1.0, -1.1, -0.9, -0.5, 0.1, 0.5, 0.8});
    c.Sa = Months({3.2, 3.1, 2.4, 1.9, 1.7, 1.3, 1.1, 1.2, 1.2, 1.6, 2.1, 2.9});
    c.Bss = Months({0.5, 0.6, 0.55, 0.4, 0.3, 0.3, 0.35, 0.4, 0.45, 0.45, 0.45, 0.5});
    c.Bsa = Months({0.1, 0.1, 0.12, 0.25, 0.45, 0.5, 0.5, 0.45, 0.4, 0.3, 0.15, 0.1});
    c.Ss = Months({0.6, 0.6, 0.55, 0.6, 0.8, 0.75, 0.7, 0.65, 0.6, 0.6, 0.55, 0.55});
    DeriveLognormal(c);
    return c;
}

// The worked site under the boreal climatology, the random source at `seed`.
inline std::unique_ptr<TModel> SimulatedModel(std::uint32_t seed) {
    auto model = std::make_unique<TModel>();
    model->Site = WorkedSite();
    model->Climate = BorealClimate();
    model->Random.SetState(seed);
    return model;
}

// Weather from file for 1950..1979 with every value present.
inline std::unique_ptr<TModel> ObservedModel(std::uint32_t seed) {
    auto model = SimulatedModel(seed);
    model->Settings.InpDat = true;
    model->Settings.YearBeg = 1950;
    model->Settings.YearEnd = 1979;
    model->Weather.FillMissing();
    for (int i = 1; i <= 30; ++i)
        for (int k = 1; k <= 12; ++k) {
            model->Weather.Tair[i][k] = model->Climate.av_Ta[k] + (i % 3) - 1;
            model->Weather.Prec[i][k] = model->Climate.av_P[k] + i;
            model->Weather.Tsoil[i][k] = model->Climate.av_Ts[k] + 0.1 * (i % 5);
        }
    return model;
}

// Collects the warnings a run or a reader shows.
class RecordingNotifier : public Notifier {
public:
    void Warning(const std::string& text) override { warnings.push_back(text); }
    std::vector<std::string> warnings;
};

}  // namespace kelmar::testing
