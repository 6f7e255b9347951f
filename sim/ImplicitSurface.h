// One implicit system: a blob model, the floaters that sample its zero set, the
// neighbour grid that makes their repulsion fast, the mesh built from a stable sample,
// and every simulation parameter. The field itself comes from a subclass.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "geo/DVector.h"
#include "geo/Vertex.h"
#include "mesh/Reconstruct.h"
#include "model/VessikObj.h"
#include "sim/FastRepulsion.h"
#include "sim/Particle.h"
#include "sim/WorkerPool.h"

class ImplicitSurface {
public:
    ImplicitSurface(char blobKind, double isoValue);
    virtual ~ImplicitSurface();
    ImplicitSurface(const ImplicitSurface&) = delete;
    ImplicitSurface& operator=(const ImplicitSurface&) = delete;

    // The field: negative inside, zero on the surface, positive outside; its gradient
    // points outward. These walk `blobs` with the list's cursor.
    virtual double fieldValue(const geo::Vertex& x) = 0;
    virtual geo::Vertex fieldGradient(const geo::Vertex& x) = 0;
    virtual geo::DVector parameterGradient(const geo::Vertex& x) = 0;  // dF/dq
    virtual geo::DVector baseParameterVelocity() = 0;
    virtual int parameterCount() = 0;
    // The value and the gradient in one evaluation: bit for bit what fieldValue and
    // fieldGradient give.
    virtual void fieldAndGradient(const geo::Vertex& x, double& value, geo::Vertex& gradient);
    // parameterGradient(x).dot(v), bit for bit, without building the whole vector.
    virtual double parameterGradientDot(const geo::Vertex& x, const geo::DVector& v);
    // A number that changes whenever the field may have changed (0 is never used), and
    // the point at which whatever the field keeps derived from the model is brought up to
    // date. Called from one thread; after it, and until the model changes, the field may
    // be evaluated from several threads at once.
    virtual std::uint64_t fieldVersion();

    // Blob model (model/VessikSpheres.cpp).
    VessikObj* addBlob(double radius);
    bool removeBlob(VessikObj* blob);  // refuses to remove the only blob
    // After a change of the model: settling again, and no floater stable.
    void unsettle();

    // Blob file (model/BlobFile.cpp).
    bool readBlobFile(const char* fileName);
    bool parseBlobLine(const char* line, double& radius, std::vector<geo::Vertex>& points);

    // Seeding (model/Seeding.cpp). False when the floater ceiling stopped it before every
    // blob had its floaters; `floaterCeilingReached` is then set.
    bool seedParticles();
    void seedBlob(VessikObj* blob);
    // The start of a simulation: the model is brought to the working scale, then seeded.
    bool startSampling();  // false as seedParticles

    // Working scale (model/Seeding.cpp). The simulation's constants (the seed radius, the
    // gradient below which the constraint gives up, the first length scale, the grid's
    // domain) are lengths at the size of the bundled examples, whose blob models span
    // 100 to 200 units. A model of another size is simulated in its own coordinates times
    // `unitScale`, a power of two that brings it into that span; as multiplying by a
    // power of two is exact, every length is mapped back to the model's units exactly.
    // Blobs, floaters, meshes and the view are in working units; files are in the model's.
    // Only the blobs are rescaled: it is called before seeding (by startSampling).
    void fitWorkingScale();
    double toModelUnits(double length) const { return length / unitScale; }
    geo::Vertex toModelUnits(const geo::Vertex& v) const { return v * (1.0 / unitScale); }

    // System state (sim/ImplicitSurface.cpp).
    double setDensity(double density);  // returns the previous desired radius
    bool isStable();
    Particle* addControlParticle(Particle* particle);  // null when refused
    void releaseControlParticles();
    bool triangulate();
    void discardMesh();
    void adaptGrid();
    // Reseeds the system's own generator; construction seeds it from the clock.
    void seedRandom(std::uint32_t seed);
    // The threads the per-floater passes use: `threads` when above 0, else
    // defaultThreadCount() (DAZIRUDO_THREADS, or every hardware thread). Every result is
    // the same, bit for bit, whatever the count.
    int threadCount() const;

    // What is wrong with the system's own records, or "" when nothing is: the validator that
    // debug and sanitizer builds run after every step. Both particle lists intact and apart,
    // the grid filing exactly the floaters, the stable count not negative and no more
    // control particles than parameters. Leaves every list's cursor be.
    std::string invariantFault();

    // The field at the floater's position: its saved sample when that is still valid,
    // else evaluated and saved. `version` is fieldVersion() as the caller took it.
    const Particle::FieldSample& fieldAt(Particle* floater, std::uint64_t version);

    // Dynamics (sim/Dynamics.cpp).
    void computeForces();
    void advance();
    geo::Vertex computeRepulsion(Particle* floater);
    double energyAndRadiusRate(Particle* floater, double& energy);
    geo::Vertex constrainedVelocity(Particle* floater);
    bool isStableFloater(Particle* floater);
    void advanceFloater(Particle* floater);

    // Population control (sim/Population.cpp).
    void controlPopulation();
    bool wantsFission(Particle* floater);
    bool wantsDeath(Particle* floater);
    // Whether wantsDeath takes its random test at all; reads the floater alone.
    bool mayDie(const Particle* floater) const;
    void fission(Particle* floater);
    int randomBelow(int n);

    // Surface control (sim/ControlSolve.cpp).
    void solveControl();

    ParticleList particles{false};         // every floater; removing one deletes it
    ParticleList controlParticles{false};  // user-held copies in state 2
    VessikList blobs;
    // Neighbours of the floater being evaluated, in query order, as runs of the grid's
    // packed copy of positions and radii; only during computeForces.
    std::vector<FastRepulsion::PackedRun> neighbours;
    FastRepulsion grid{5, 1000.0};
    Reconstruct reconstruct;

    const double isoValue;  // T: F = T - sum of blob contributions
    // The blob file the model holds: the one the last readBlobFile read (made absolute) or
    // writeBlobFile wrote; whether that file is there but the model does not hold all of
    // it (a refused or unreadable line); and its size and content hash at that time.
    // writeBlobFile keeps the file aside, rather than replace it, unless it still holds
    // just what the model holds.
    std::string blobFilePath;
    bool blobFileIncomplete = false;
    std::uintmax_t blobFileSize = 0;
    std::uint64_t blobFileHash = 0;

    // Parameters, in the order the constructor sets them.
    double lengthDivisor = 24.0;         // diagonal of the bounding box / L
    double timeStep = 0.03;              // dt
    double phi = 15.0;                   // phi: feedback pulling floaters back onto F = 0
    double energyRate = 15.0;            // rho: rate driving each energy to the desired one
    double repulsionAmplitude = 6.0;     // alpha: amplitude of the Gaussian repulsion
    double desiredEnergy;                // E hat = 6 alpha e^-2: six neighbours at twice the radius
    double radiusDamping = 10.0;         // beta: keeps the radius rate finite when alone
    double minGradientSquared = 0.0001;  // g.g below which the constraint cannot project
    double equilibriumFactor = 4.0;      // gamma: near equilibrium when |P| < gamma sigma
    double fissionEnergyFactor = 0.2;    // nu: fission energy threshold, fraction of E hat
    double deathRadiusFactor = 0.7;      // delta: death radius threshold, fraction of sigma hat
    double neighbourRadiusFactor = 2.0;  // neighbours are queried within this times sigma
    double stableFraction = 0.9;         // share of stable floaters for a stable system
    bool populationChanged = false;      // the last population control split or removed floaters
    double stableRateFactor = 0.5;       // per-floater stability bound on the radius rate
    double lengthScale;                  // L: bounding-box diagonal / lengthDivisor
    double desiredRadius = 0.0;          // sigma hat, from setDensity
    double maxRadius = 0.0;              // sigma max, from setDensity
    double appliedRadiusDamping = 0.0;   // beta as the radius rate uses it, from setDensity
    int stableCount = 0;                 // floaters found stable by the last advance
    double unitScale = 1.0;              // working units per model unit, a power of two
    bool settling = true;                // until first stable: off-surface floaters survive
    geo::DVector qDot;                   // velocity of the blob centres, three per blob
    int threads = 0;                     // threads for the passes; 0: threadCount() decides
    // Fission stops at this many floaters, so memory stays bounded whatever density is
    // asked for; `floaterCeilingReached` tells the caller it happened.
    int maxFloaters = 2000000;
    bool floaterCeilingReached = false;
    // True from a triangulation until the next step: the mesh is that of the sample as it is.
    bool meshCurrent = false;

private:
    // Sums over the neighbours of one floater, shared by its repulsion and radius rate.
    struct PairSums {
        geo::Vertex push;               // sum of (pi - pj)(Eij / si^2 + Eji / sj^2)
        double energy = 0.0;            // E = sum Eij
        double weightedDistance = 0.0;  // S = sum |pi - pj|^2 Eij
    };
    PairSums sumPairs(const Particle* floater, const std::vector<FastRepulsion::PackedRun>& runs,
                      int self) const;
    // Memoised for the floater being evaluated; valid while `neighbours` is unchanged.
    const PairSums& pairSums(const Particle* floater);
    geo::Vertex repulsionFrom(const Particle* floater, const PairSums& sums) const;
    double radiusRateFrom(const Particle* floater, const PairSums& sums, double& energy) const;
    geo::Vertex constrainedVelocity(Particle* floater, std::uint64_t version);
    // advanceFloater after the move, without the count: the field at the floater's
    // position, its normal, stranding, radius and state.
    void settleFloater(Particle* floater, std::uint64_t version);
    // Where advanceFloater moves the floater, and whether it moves at all.
    bool stepOf(const Particle* floater, geo::Vertex& displacement) const;
    // Sizes the grid to the floaters as they are now, as adaptGrid does after a step.
    void fitGrid();
    // Runs work(begin, end, thread) over [0, count) on the system's threads (WorkerPool).
    void forEachChunk(int count, int grain, const std::function<void(int, int, int)>& work);

    std::minstd_rand random;
    const Particle* pairSumsOf = nullptr;
    PairSums pairSumsValue;
    std::unique_ptr<WorkerPool> pool;
};
