#include "platform/appkit/LayoutSolver.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

// The tableau follows Badros, Borning and Stuckey, "The Cassowary Linear Arithmetic Constraint
// Solving Algorithm" (2001). Each row reads `basic = constant + Σ coefficient × parameter`;
// parameters (non-basic symbols) stand at 0. Restricted symbols (slack, error, dummy and
// artificial) are never negative; dummies are always 0 and never enter the basis.
// Unrestricted symbols are the layout's variables. Entering and leaving symbols are chosen by
// Bland's rule (lowest symbol id among the candidates), which cannot cycle.

namespace tarpelix::platform {

LayoutVariable::LayoutVariable(std::string name) : data_(std::make_shared<const Data>(Data{std::move(name)})) {}

LayoutExpression operator+(LayoutExpression lhs, const LayoutExpression& rhs) {
    lhs.terms.insert(lhs.terms.end(), rhs.terms.begin(), rhs.terms.end());
    lhs.constant += rhs.constant;
    return lhs;
}

LayoutExpression operator*(LayoutExpression expression, double factor) {
    for (LayoutTerm& term : expression.terms) term.coefficient *= factor;
    expression.constant *= factor;
    return expression;
}

LayoutExpression operator*(double factor, LayoutExpression expression) { return std::move(expression) * factor; }
LayoutExpression operator-(LayoutExpression expression) { return std::move(expression) * -1.0; }
LayoutExpression operator-(LayoutExpression lhs, const LayoutExpression& rhs) { return std::move(lhs) + -rhs; }

LayoutConstraint LayoutConstraint::make(const LayoutExpression& lhs, LayoutRelation relation,
                                        const LayoutExpression& rhs, double priority, std::string identifier) {
    return {lhs - rhs, relation, priority, std::move(identifier)};
}

namespace {

constexpr double epsilon = 1e-8;
bool nearZero(double value) { return std::abs(value) < epsilon; }

enum class Kind { external, slack, error, dummy, artificial };

struct Symbol {
    std::uint64_t id = 0;
    Kind kind = Kind::external;

    bool valid() const { return id != 0; }
    bool restricted() const { return kind != Kind::external; }
    // Restricted symbols that may enter the basis.
    bool pivotable() const { return kind == Kind::slack || kind == Kind::error; }
    friend bool operator<(Symbol a, Symbol b) { return a.id < b.id; }
    friend bool operator==(Symbol a, Symbol b) { return a.id == b.id; }
};

// Cells are kept sorted by symbol in a flat vector: rows are short, and adding one row to
// another is a merge.
struct Row {
    using Cell = std::pair<Symbol, double>;
    double constant = 0;
    std::vector<Cell> cells;

    std::vector<Cell>::const_iterator find(Symbol symbol) const {
        auto it = std::lower_bound(cells.begin(), cells.end(), symbol,
                                   [](const Cell& cell, Symbol s) { return cell.first < s; });
        return it != cells.end() && it->first == symbol ? it : cells.end();
    }
    double coefficient(Symbol symbol) const {
        auto it = find(symbol);
        return it == cells.end() ? 0 : it->second;
    }
    // Removes the symbol's cell and returns its coefficient (0 when there was none).
    double remove(Symbol symbol) {
        auto it = find(symbol);
        if (it == cells.end()) return 0;
        const double coefficient = it->second;
        cells.erase(it);
        return coefficient;
    }
    void add(Symbol symbol, double coefficient) {
        Row single;
        single.cells.emplace_back(symbol, 1.0);
        add(single, coefficient);
    }
    void add(const Row& row, double factor) {
        constant += factor * row.constant;
        std::vector<Cell> merged;
        merged.reserve(cells.size() + row.cells.size());
        auto a = cells.begin();
        auto b = row.cells.begin();
        while (a != cells.end() || b != row.cells.end()) {
            if (b == row.cells.end() || (a != cells.end() && a->first < b->first)) {
                merged.push_back(*a++);
                continue;
            }
            double value = factor * b->second;
            if (a != cells.end() && a->first == b->first) value += (a++)->second;
            if (!nearZero(value)) merged.emplace_back(b->first, value);
            ++b;
        }
        cells = std::move(merged);
    }
    void negate() {
        constant = -constant;
        for (Cell& cell : cells) cell.second = -cell.second;
    }
    // Rewrites `0 = row` as `symbol = row'`.
    void solveFor(Symbol symbol) {
        const double factor = -1.0 / remove(symbol);
        constant *= factor;
        for (Cell& cell : cells) cell.second *= factor;
    }
    // Rewrites `lhs = row` as `rhs = row'`.
    void solveFor(Symbol lhs, Symbol rhs) {
        add(lhs, -1.0);
        solveFor(rhs);
    }
    void substitute(Symbol symbol, const Row& row) {
        if (find(symbol) == cells.end()) return;
        add(row, remove(symbol));
    }
};

// Where a constraint stands in the tableau. The marker is a symbol only this constraint's row
// ever held (its slack, dummy or positive error), found again to remove the constraint;
// markerCoefficient is its coefficient in `0 = expression + ...` as first written.
struct ConstraintRecord {
    LayoutConstraint constraint;
    bool required = true;
    double priority = LayoutConstraint::required;
    bool broken = false;
    Symbol marker{};
    Symbol other{};
    double markerCoefficient = 0;
};

// One priority's part of the objective: the sum of its error symbols, kept in terms of the
// parameters.
struct Level {
    double priority = 0;
    Row row;
    std::size_t errors = 0;
};

struct VariableRecord {
    LayoutVariable variable;
    Symbol symbol;
    std::size_t uses = 0;
};

bool isFinite(const LayoutConstraint& constraint) {
    if (!std::isfinite(constraint.expression.constant) || std::isnan(constraint.priority)) return false;
    return std::all_of(constraint.expression.terms.begin(), constraint.expression.terms.end(),
                       [](const LayoutTerm& term) { return std::isfinite(term.coefficient); });
}

// Lexicographic comparison of cost vectors, strongest priority first.
int compare(const std::vector<double>& a, const std::vector<double>& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::abs(a[i] - b[i]) >= epsilon) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

} // namespace

struct LayoutSolver::Impl {
    std::uint64_t nextSymbol = 1;
    Handle nextHandle = 1;
    std::map<Handle, ConstraintRecord> constraints;
    std::unordered_map<const void*, VariableRecord> variables;
    std::map<Symbol, Row> rows;
    std::vector<Level> levels; // strongest first
    std::optional<Row> artificialObjective; // while an artificial variable is being driven out
    BrokenHandler brokenHandler;
    std::vector<LayoutConstraint> pendingReports;

    Symbol makeSymbol(Kind kind) { return {nextSymbol++, kind}; }

    // Symbols

    Symbol acquire(const LayoutVariable& variable) {
        auto [it, inserted] = variables.try_emplace(variable.data_.get(), VariableRecord{variable, {}, 0});
        if (inserted) it->second.symbol = makeSymbol(Kind::external);
        ++it->second.uses;
        return it->second.symbol;
    }

    // Forgets a variable no constraint mentions any more. Every row is a combination of the
    // remaining constraints, so its symbol is already gone from the tableau but for rounding.
    void release(const LayoutVariable& variable) {
        auto it = variables.find(variable.data_.get());
        if (it == variables.end() || --it->second.uses > 0) return;
        const Symbol symbol = it->second.symbol;
        rows.erase(symbol);
        for (auto& [basic, row] : rows) row.remove(symbol);
        for (Level& level : levels) level.row.remove(symbol);
        variables.erase(it);
    }

    void releaseAll(const ConstraintRecord& record) {
        for (const LayoutTerm& term : record.constraint.expression.terms) release(term.variable);
    }

    Level& level(double priority) {
        auto it = std::find_if(levels.begin(), levels.end(), [&](const Level& l) { return l.priority <= priority; });
        if (it == levels.end() || it->priority != priority) it = levels.insert(it, Level{priority, {}, 0});
        return *it;
    }

    std::vector<Row*> objectives() {
        std::vector<Row*> result;
        for (Level& level : levels) result.push_back(&level.row);
        return result;
    }

    std::vector<double> costs(Symbol symbol) const {
        std::vector<double> result;
        for (const Level& level : levels) result.push_back(level.row.coefficient(symbol));
        return result;
    }

    bool costsNothing(Symbol symbol) const {
        return std::all_of(levels.begin(), levels.end(),
                           [&](const Level& level) { return nearZero(level.row.coefficient(symbol)); });
    }

    // Pivoting

    void substitute(Symbol symbol, const Row& row) {
        for (auto& [basic, other] : rows) other.substitute(symbol, row);
        for (Level& level : levels) level.row.substitute(symbol, row);
        if (artificialObjective) artificialObjective->substitute(symbol, row);
    }

    void pivot(Symbol entering, Symbol leaving) {
        auto node = rows.extract(leaving);
        Row row = std::move(node.mapped());
        row.solveFor(leaving, entering);
        substitute(entering, row);
        rows.emplace(entering, std::move(row));
    }

    std::size_t iterationLimit() const { return 1000 + 50 * (rows.size() + variables.size()); }

    // The first sign among the objectives' coefficients of the symbol, strongest first.
    static int leadingSign(Symbol symbol, const std::vector<Row*>& objectives) {
        for (const Row* objective : objectives) {
            const double c = objective->coefficient(symbol);
            if (!nearZero(c)) return c < 0 ? -1 : 1;
        }
        return 0;
    }

    // Primal simplex over a lexicographic objective. A restricted parameter enters when raising
    // it lowers the objective; an unrestricted one (left as a parameter by a removal) enters
    // when moving it either way does. False if it could not finish, which a bounded objective
    // rules out but rounding might not.
    bool optimize(const std::vector<Row*>& objectives) {
        for (std::size_t iteration = 0; iteration < iterationLimit(); ++iteration) {
            Symbol entering;
            double direction = 0;
            for (const Row* objective : objectives) {
                for (const auto& [symbol, coefficient] : objective->cells) {
                    if (entering.valid() && entering < symbol) break;
                    if (!symbol.pivotable() && symbol.kind != Kind::external) continue;
                    const int sign = leadingSign(symbol, objectives);
                    if (sign < 0 || (sign > 0 && symbol.kind == Kind::external)) {
                        entering = symbol;
                        direction = -sign;
                    }
                }
            }
            if (!entering.valid()) return true;

            Symbol leaving;
            double bestRatio = 0;
            for (const auto& [basic, row] : rows) {
                if (!basic.restricted()) continue;
                const double change = row.coefficient(entering) * direction;
                if (change >= 0) continue;
                const double ratio = row.constant / -change;
                if (!leaving.valid() || ratio < bestRatio - epsilon) {
                    leaving = basic;
                    bestRatio = ratio;
                }
            }
            if (!leaving.valid()) return false;
            pivot(entering, leaving);
        }
        return false;
    }

    bool optimize() { return optimize(objectives()); }

    static bool infeasible(Symbol basic, const Row& row) {
        if (basic.kind == Kind::dummy) return !nearZero(row.constant);
        return basic.restricted() && row.constant < -epsilon;
    }

    // Dual simplex: the objective is optimal but some restricted rows are negative. False when
    // a row cannot be made feasible or the iterations run out.
    bool dualOptimize() {
        for (std::size_t iteration = 0; iteration < iterationLimit(); ++iteration) {
            auto row = std::find_if(rows.begin(), rows.end(), [](const auto& r) { return infeasible(r.first, r.second); });
            if (row == rows.end()) return true;
            if (row->first.kind == Kind::dummy) return false;

            Symbol entering;
            std::vector<double> bestRatio;
            for (const auto& [symbol, coefficient] : row->second.cells) {
                std::vector<double> ratio;
                if (symbol.kind == Kind::external) {
                    ratio.assign(levels.size(), 0.0); // costs nothing at an optimum, moves either way
                } else if (symbol.pivotable() && coefficient > 0) {
                    ratio = costs(symbol);
                    for (double& r : ratio) r /= coefficient;
                } else {
                    continue;
                }
                if (!entering.valid() || compare(ratio, bestRatio) < 0) {
                    entering = symbol;
                    bestRatio = std::move(ratio);
                }
            }
            if (!entering.valid()) return false;
            pivot(entering, row->first);
        }
        return false;
    }

    // Adding

    // The constraint as `0 = row` in terms of the current parameters, with its slack, error or
    // dummy symbols, its errors added to the objective.
    Row makeRow(ConstraintRecord& record) {
        const LayoutExpression& expression = record.constraint.expression;
        Row row;
        row.constant = expression.constant;
        for (const LayoutTerm& term : expression.terms) {
            const Symbol symbol = acquire(term.variable);
            if (auto basic = rows.find(symbol); basic != rows.end()) {
                row.add(basic->second, term.coefficient);
            } else {
                row.add(symbol, term.coefficient);
            }
        }
        if (record.constraint.relation == LayoutRelation::equal) {
            if (record.required) {
                record.marker = makeSymbol(Kind::dummy);
                record.markerCoefficient = 1;
            } else {
                // expression = positive error - negative error
                record.marker = makeSymbol(Kind::error);
                record.other = makeSymbol(Kind::error);
                record.markerCoefficient = -1;
                row.add(record.other, 1);
            }
        } else {
            // expression + slack = 0 for <=, expression - slack = 0 for >=; an error lets it go
            // the wrong way at a cost.
            record.marker = makeSymbol(Kind::slack);
            record.markerCoefficient = record.constraint.relation == LayoutRelation::lessThanOrEqual ? 1 : -1;
            if (!record.required) {
                record.other = makeSymbol(Kind::error);
                row.add(record.other, -record.markerCoefficient);
            }
        }
        row.add(record.marker, record.markerCoefficient);
        if (!record.required) {
            Level& objective = level(record.priority);
            for (Symbol error : {record.marker, record.other}) {
                if (error.kind == Kind::error) {
                    objective.row.add(error, 1);
                    ++objective.errors;
                }
            }
        }
        if (row.constant < 0) row.negate();
        return row;
    }

    // The basic symbol for a new row: any unrestricted variable, else the constraint's own
    // slack or error when making it basic keeps the row non-negative.
    static Symbol chooseSubject(const Row& row, const ConstraintRecord& record) {
        for (const auto& [symbol, coefficient] : row.cells) {
            if (symbol.kind == Kind::external) return symbol;
        }
        for (Symbol own : {record.marker, record.other}) {
            if (own.pivotable() && row.coefficient(own) < 0) return own;
        }
        return {};
    }

    // Adds `artificial = row` and minimises the artificial symbol. When it reaches 0 the row
    // holds and joins the tableau; otherwise the row is dropped and the tableau, pivoted only
    // through the earlier constraints' rows, still describes exactly those.
    bool addWithArtificialVariable(const Row& row) {
        const Symbol artificial = makeSymbol(Kind::artificial);
        rows.emplace(artificial, row);
        artificialObjective = row;
        optimize({&*artificialObjective});
        const bool satisfied = nearZero(artificialObjective->constant);
        artificialObjective.reset();

        if (auto it = rows.find(artificial); it != rows.end()) {
            Row basicRow = std::move(it->second);
            rows.erase(it);
            if (!satisfied) return false;
            if (!basicRow.cells.empty()) {
                // Any symbol may take its place; only dummies are left when the row repeats
                // required equalities.
                Symbol entering = basicRow.cells.begin()->first;
                for (const auto& [symbol, coefficient] : basicRow.cells) {
                    if (symbol.pivotable()) {
                        entering = symbol;
                        break;
                    }
                }
                basicRow.solveFor(artificial, entering);
                substitute(entering, basicRow);
                rows.emplace(entering, std::move(basicRow));
            }
        }
        for (auto& [basic, other] : rows) other.remove(artificial);
        for (Level& level : levels) level.row.remove(artificial);
        return satisfied;
    }

    // False, with the tableau describing the same constraints as before, when the constraint is
    // a required one that cannot hold.
    bool addToTableau(ConstraintRecord& record) {
        Row row = makeRow(record);
        Symbol subject = chooseSubject(row, record);
        if (!subject.valid() && std::all_of(row.cells.begin(), row.cells.end(),
                                            [](const auto& cell) { return cell.first.kind == Kind::dummy; })) {
            // Only required equalities: it repeats them, or it contradicts them.
            if (!nearZero(row.constant)) {
                releaseAll(record);
                return false;
            }
            subject = record.marker;
        }
        if (subject.valid()) {
            row.solveFor(subject);
            substitute(subject, row);
            rows.emplace(subject, std::move(row));
        } else if (!addWithArtificialVariable(row)) {
            releaseAll(record);
            optimize(); // the attempt pivoted away from the optimum
            return false;
        }
        optimize();
        return true;
    }

    // Removing

    // The row to pivot a parameter marker into the basis through: a dummy row that holds it
    // (the row of a required equality that repeats this one, which must stay at 0), else a
    // restricted row the marker would bound first, else a restricted row it would push up
    // least, else any row. Pivoting through any other row would move such a dummy row off 0.
    Symbol markerLeavingRow(Symbol marker) const {
        Symbol first, second, third;
        double firstRatio = 0, secondRatio = 0;
        for (const auto& [basic, row] : rows) {
            const double c = row.coefficient(marker);
            if (c == 0) continue;
            if (basic.kind == Kind::dummy) return basic;
            if (!basic.restricted()) {
                if (!third.valid()) third = basic;
            } else if (c < 0) {
                const double ratio = -row.constant / c;
                if (!first.valid() || ratio < firstRatio) first = basic, firstRatio = ratio;
            } else {
                const double ratio = row.constant / c;
                if (!second.valid() || ratio < secondRatio) second = basic, secondRatio = ratio;
            }
        }
        return first.valid() ? first : second.valid() ? second : third;
    }

    void removeFromTableau(ConstraintRecord& record) {
        if (!record.required) {
            Level& objective = level(record.priority);
            for (Symbol error : {record.marker, record.other}) {
                if (error.kind != Kind::error) continue;
                if (auto basic = rows.find(error); basic != rows.end()) {
                    objective.row.add(basic->second, -1.0);
                } else {
                    objective.row.add(error, -1.0);
                }
                --objective.errors;
            }
            if (objective.errors == 0) {
                levels.erase(levels.begin() + (&objective - levels.data()));
            }
        }
        if (rows.erase(record.marker) == 0) {
            if (const Symbol leaving = markerLeavingRow(record.marker); leaving.valid()) {
                pivot(record.marker, leaving);
                rows.erase(record.marker);
            }
        }
        releaseAll(record);
        optimize();
    }

    // Moves the constraint's constant by delta in place. Every row is a combination of the
    // constraints' equations, and the marker's coefficient in a row tells how much of this
    // constraint's equation it holds, hence how far its constant moves.
    void shiftConstant(const ConstraintRecord& record, double delta) {
        const Symbol marker = record.marker;
        const double scale = delta / record.markerCoefficient;
        const bool markerIsError = marker.kind == Kind::error;
        if (auto basic = rows.find(marker); basic != rows.end()) {
            basic->second.constant -= scale;
            if (markerIsError) level(record.priority).row.constant -= scale;
            return;
        }
        for (auto& [basic, row] : rows) row.constant += row.coefficient(marker) * scale;
        for (Level& level : levels) {
            const double ownWeight = markerIsError && level.priority == record.priority ? 1 : 0;
            level.row.constant += (level.row.coefficient(marker) - ownWeight) * scale;
        }
    }

    // Starts the tableau again from the constraints held; the way out if rounding ever stops
    // the simplex short.
    void rebuild() {
        rows.clear();
        levels.clear();
        variables.clear();
        for (auto& [handle, record] : constraints) {
            if (!record.broken && !addToTableau(record)) markBroken(record);
        }
    }

    void markBroken(ConstraintRecord& record) {
        record.broken = true;
        record.marker = record.other = {};
        pendingReports.push_back(record.constraint);
    }

    void report() {
        std::vector<LayoutConstraint> reports = std::move(pendingReports);
        pendingReports.clear();
        if (!brokenHandler) return;
        for (const LayoutConstraint& constraint : reports) brokenHandler(constraint);
    }

    void normalise(ConstraintRecord& record) {
        const double priority = record.constraint.priority;
        record.required = priority >= LayoutConstraint::required;
        record.priority = record.required ? LayoutConstraint::required : std::max(priority, 1.0);
    }
};

LayoutSolver::LayoutSolver() : impl_(std::make_unique<Impl>()) {}
LayoutSolver::~LayoutSolver() = default;
LayoutSolver::LayoutSolver(LayoutSolver&&) noexcept = default;
LayoutSolver& LayoutSolver::operator=(LayoutSolver&&) noexcept = default;

LayoutSolver::Handle LayoutSolver::add(LayoutConstraint constraint) {
    const Handle handle = impl_->nextHandle++;
    ConstraintRecord& record = impl_->constraints.emplace(handle, ConstraintRecord{std::move(constraint)}).first->second;
    impl_->normalise(record);
    if (!isFinite(record.constraint) || !impl_->addToTableau(record)) impl_->markBroken(record);
    impl_->report();
    return handle;
}

void LayoutSolver::remove(Handle handle) {
    auto it = impl_->constraints.find(handle);
    if (it == impl_->constraints.end()) return;
    if (!it->second.broken) impl_->removeFromTableau(it->second);
    impl_->constraints.erase(it);
}

void LayoutSolver::setConstant(Handle handle, double constant) {
    auto it = impl_->constraints.find(handle);
    if (it == impl_->constraints.end()) return;
    ConstraintRecord& record = it->second;
    const double delta = constant - record.constraint.expression.constant;
    if (delta == 0) return;
    record.constraint.expression.constant = constant;

    if (record.broken) {
        // Already reported: a retry that fails leaves it broken without a second report.
        if (isFinite(record.constraint) && impl_->addToTableau(record)) record.broken = false;
    } else if (!std::isfinite(constant) || record.required) {
        impl_->removeFromTableau(record);
        if (!std::isfinite(constant) || !impl_->addToTableau(record)) impl_->markBroken(record);
    } else {
        impl_->shiftConstant(record, delta);
        if (!impl_->dualOptimize()) impl_->rebuild();
    }
    impl_->report();
}

bool LayoutSolver::contains(Handle handle) const { return impl_->constraints.contains(handle); }

bool LayoutSolver::isBroken(Handle handle) const {
    auto it = impl_->constraints.find(handle);
    return it != impl_->constraints.end() && it->second.broken;
}

std::vector<LayoutConstraint> LayoutSolver::brokenConstraints() const {
    std::vector<LayoutConstraint> result;
    for (const auto& [handle, record] : impl_->constraints) {
        if (record.broken) result.push_back(record.constraint);
    }
    return result;
}

void LayoutSolver::setBrokenHandler(BrokenHandler handler) { impl_->brokenHandler = std::move(handler); }

double LayoutSolver::value(const LayoutVariable& variable) const {
    auto it = impl_->variables.find(variable.data_.get());
    if (it == impl_->variables.end()) return 0;
    auto row = impl_->rows.find(it->second.symbol);
    return row == impl_->rows.end() ? 0 : row->second.constant;
}

bool LayoutSolver::isAmbiguous(const LayoutVariable& variable) const {
    auto it = impl_->variables.find(variable.data_.get());
    if (it == impl_->variables.end()) return true;
    const Impl& impl = *impl_;

    // Whether the parameter can move by a positive amount in the direction without driving a
    // restricted row below 0 (or a dummy row off 0).
    auto canMove = [&](Symbol parameter, double direction) {
        for (const auto& [basic, row] : impl.rows) {
            if (!basic.restricted()) continue;
            const double change = row.coefficient(parameter) * direction;
            if (change == 0) continue;
            if (basic.kind == Kind::dummy) return false;
            if (change < 0 && row.constant / -change < epsilon) return false;
        }
        return true;
    };
    auto isFree = [&](Symbol parameter) {
        if (!impl.costsNothing(parameter)) return false;
        if (parameter.kind == Kind::external) return canMove(parameter, 1) || canMove(parameter, -1);
        return parameter.pivotable() && canMove(parameter, 1);
    };

    const Symbol symbol = it->second.symbol;
    auto row = impl.rows.find(symbol);
    if (row == impl.rows.end()) return isFree(symbol);
    return std::any_of(row->second.cells.begin(), row->second.cells.end(),
                       [&](const auto& cell) { return isFree(cell.first); });
}

} // namespace tarpelix::platform
