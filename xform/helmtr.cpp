// Helmert transformation estimator with outlier rejection: the entry with
// the suite's arguments.
#include "xform/helmtr.h"

#include "xform/helmcodes.h"
#include "xform/helmest.h"

void HELMTR(std::string_view title1, std::string_view title2, int nStat,
            std::span<const t_staName> STNAME, std::span<const int> STANUM,
            std::span<const char> STAFLG, std::span<const double> XSTA2,
            std::span<const double> XSTA1, std::span<const double> aux, std::span<int> ITYP,
            std::span<const int> iPar, int resTyp, int resUnt, std::string_view datumName,
            double aEll, double bEll, std::span<const double> dxEll, std::span<const double> drEll,
            double scEll, int printUnit, int iPrt, int iRej, std::span<const double> rLimit,
            std::span<double> param, std::span<double> rmsPar, double& rmsTrn, int& nDof,
            std::span<double> rmsCmp) {
  helm::Problem problem;
  problem.n = nStat > 0 ? static_cast<std::size_t>(nStat) : 0;
  problem.title1 = title1;
  problem.title2 = title2;
  problem.names = STNAME;
  problem.numbers = STANUM;
  problem.flags = STAFLG;
  problem.x2 = XSTA2;
  problem.x1 = XSTA1;
  problem.aux = aux;
  problem.iPar = iPar;
  problem.system = helm::residualSystemOf(resTyp);
  problem.unit = helm::residualUnitOf(resUnt);
  problem.datumName = datumName;
  problem.aEll = aEll;
  problem.bEll = bEll;
  problem.dxEll = dxEll.data();
  problem.drEll = drEll.data();
  problem.scEll = scEll;
  problem.printUnit = printUnit;
  problem.iPrt = iPrt;
  problem.reject = iRej == 1;
  problem.rLimit = rLimit.data();
  helm::Estimator estimator(problem, {ITYP, param, rmsPar, rmsCmp, rmsTrn, nDof});
  estimator.run();
}
