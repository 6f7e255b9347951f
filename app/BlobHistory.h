// Undo and redo of the blob models: a copy of every system's blobs taken before each change
// the user makes to them (a drag, Insert, Delete), at most `depth` changes back. Restoring
// a copy lets go of the held control particles, which would pull the surface away again,
// unsettles the system and seeds every restored blob, so that the sample settles on the
// restored surface.
#pragma once

#include <optional>
#include <vector>

#include "geo/QList.h"
#include "geo/Vertex.h"

class BlobHistory {
public:
    static constexpr int depth = 20;

    // Before a change made at once (Insert, Delete): the model as it is can be restored,
    // and what was undone can no longer be redone.
    void record(geo::QList& systems);
    // Before a change that may follow: the press that makes a control particle, which
    // changes the model only once it is dragged. `commitPrepared` records the copy then;
    // `forgetPrepared` drops it when the press ends without a drag.
    void prepare(geo::QList& systems);
    void commitPrepared();
    void forgetPrepared();
    // False, and no change, when there is nothing to undo or redo. `systems` must be the
    // list the copies were taken of (the history is cleared when it is replaced).
    bool undo(geo::QList& systems);
    bool redo(geo::QList& systems);
    void clear();

    int undoable() const { return static_cast<int>(past.size()); }
    int redoable() const { return static_cast<int>(future.size()); }

private:
    struct Blob {
        double radius;
        std::vector<geo::Vertex> points;  // the defining points, the centre first
    };
    using Model = std::vector<std::vector<Blob>>;  // the blobs of each system, in list order

    static Model capture(geo::QList& systems);
    static bool restore(geo::QList& systems, const Model& model);
    static void push(std::vector<Model>& stack, Model model);
    // Takes the newest copy off `from`, puts the present model on `to` and restores it.
    static bool step(geo::QList& systems, std::vector<Model>& from, std::vector<Model>& to);

    std::vector<Model> past;    // oldest first
    std::vector<Model> future;  // models undone, the most recently undone last
    std::optional<Model> prepared;
};
