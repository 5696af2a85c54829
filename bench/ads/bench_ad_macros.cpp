// Expanding the address macros of one ad pick: a 256 KB source made of "##SEQ1##" macros and a
// link of the same, as a hostile reklama.par could hold before its lengths were bounded. The
// reference is Qt's own one-pass replace of the same macro by the same value, on the same texts.
#include <QString>

#include <cstdio>
#include <string>

#include "ads/banner/ad_params.h"
#include "best_time.h"

int main() {
  std::string macros;
  while (macros.size() < 256 * 1024) macros += "##SEQ1##";
  AdMacroState state;
  ParseAdSequence("5..7", state.SeqSet[1], state.SeqPos[1]);
  const AdRandom random = [](int64_t) -> int64_t { return 0; };

  std::string outSource, outLink;
  const double ours = BestSeconds(
      [&] {
        outSource = macros;
        outLink = macros;
        ExpandAdMacros(outSource, outLink, true, state, random);
      },
      1.0);
  const QString qMacros = QString::fromStdString(macros);
  QString refSource, refLink;
  const double reference = BestSeconds(
      [&] {
        refSource = qMacros;
        refLink = qMacros;
        refSource.replace(QStringLiteral("##SEQ1##"), QStringLiteral("5"));
        refLink.replace(QStringLiteral("##SEQ1##"), QStringLiteral("5"));
      },
      1.0);
  if (outSource.size() != size_t(refSource.size())) {
    std::fprintf(stderr, "the expansions differ in length\n");
    return 1;
  }
  std::printf("ad macros, 2 x %zu KB of ##SEQ1##: ours %.3f ms per pick, QString::replace %.3f ms, ratio %.2f\n",
              macros.size() / 1024, ours * 1e3, reference * 1e3, ours / reference);
  return 0;
}
