#include "app/BlobHistory.h"

#include <utility>

#include "sim/ImplicitSurface.h"

namespace {

ImplicitSurface& systemAt(geo::QList& systems, int i) {
    return *static_cast<ImplicitSurface*>(systems.at(i));
}

}  // namespace

BlobHistory::Model BlobHistory::capture(geo::QList& systems) {
    Model model(static_cast<std::size_t>(systems.count()));
    for (int i = 0; i < systems.count(); ++i) {
        VessikList& blobs = systemAt(systems, i).blobs;
        for (VessikObj* blob = blobs.first(); blob != nullptr; blob = blobs.next()) {
            Blob copy{blob->getRadius(), {}};
            for (int k = 0; k < blob->pointCount(); ++k) copy.points.push_back(*blob->point(k));
            model[static_cast<std::size_t>(i)].push_back(std::move(copy));
        }
    }
    return model;
}

bool BlobHistory::restore(geo::QList& systems, const Model& model) {
    if (static_cast<int>(model.size()) != systems.count()) return false;
    for (int i = 0; i < systems.count(); ++i) {
        ImplicitSurface& system = systemAt(systems, i);
        system.releaseControlParticles();
        std::vector<VessikObj*> old;
        for (VessikObj* b = system.blobs.first(); b != nullptr; b = system.blobs.next())
            old.push_back(b);
        // The copies are made first and the old blobs removed after, so the model is never
        // without a blob. The system is unsettled once below, not once per blob.
        std::vector<VessikObj*> restored;
        for (const Blob& copy : model[static_cast<std::size_t>(i)]) {
            if (!VessikObj::usableRadius(copy.radius)) continue;
            VessikObj* blob = system.blobs.add(copy.radius);
            for (int k = 0; k < blob->pointCount() && k < static_cast<int>(copy.points.size()); ++k)
                *blob->point(k) = copy.points[static_cast<std::size_t>(k)];
            restored.push_back(blob);
        }
        if (restored.empty()) continue;  // no copy could be made: the model stays whole
        for (VessikObj* blob : old) system.blobs.remove(blob);
        system.unsettle();
        // Every restored blob gets its seed floaters, as at start: the floaters there may
        // lie where the restored field is too flat to pull them back (an undone Insert
        // leaves them on the larger merged surface) and die, or none may be left near a
        // blob that comes back. Where floaters remain, population control thins them.
        for (VessikObj* blob : restored) system.seedBlob(blob);
    }
    return true;
}

void BlobHistory::push(std::vector<Model>& stack, Model model) {
    stack.push_back(std::move(model));
    if (static_cast<int>(stack.size()) > depth) stack.erase(stack.begin());
}

void BlobHistory::record(geo::QList& systems) {
    push(past, capture(systems));
    future.clear();
    prepared.reset();
}

void BlobHistory::prepare(geo::QList& systems) {
    prepared = capture(systems);
}

void BlobHistory::commitPrepared() {
    if (!prepared) return;
    push(past, std::move(*prepared));
    future.clear();
    prepared.reset();
}

void BlobHistory::forgetPrepared() {
    prepared.reset();
}

bool BlobHistory::step(geo::QList& systems, std::vector<Model>& from, std::vector<Model>& to) {
    if (from.empty()) return false;
    Model present = capture(systems);
    if (!restore(systems, from.back())) return false;
    from.pop_back();
    push(to, std::move(present));
    return true;
}

bool BlobHistory::undo(geo::QList& systems) {
    prepared.reset();
    return step(systems, past, future);
}

bool BlobHistory::redo(geo::QList& systems) {
    prepared.reset();
    return step(systems, future, past);
}

void BlobHistory::clear() {
    past.clear();
    future.clear();
    prepared.reset();
}
