"""Meaning and unit of every public member of the extension's five types.

One table, read by tools/gen_stubs.py for the docstrings of src/fumivex2/_fumivex2.pyi
and for the reference page docs/reference.md. Each class has sections of
(name, unit, meaning) rows. Units: "" where none applies (switches, indices,
methods that return nothing), "-" for dimensionless numbers. Soot variables are
amounts per kilogram of gas in mol (a count divided by Avogadro's number); their
rates are mol/(kg s); gas-species rates are kmol/(m3 s) as in Cantera.
"""

SOOT_VARS = ("N_agg", "N_pri", "C_tot", "H_tot")
VAR_WORDS = {"N_agg": "aggregates", "N_pri": "primary particles",
             "C_tot": "carbon atoms held in soot", "H_tot": "hydrogen atoms held in soot"}
# growth-model suffixes of the per-model methods
MODELS = [("reactived", "reactive dimerization (model 1)"),
          ("slfclsn", "self-collision (model 2)"),
          ("slfclsn_lump", "lumped self-collision (model 3)"),
          ("crosslinking", "cross-linking (model 4)"),
          ("irrevd", "irreversible dimerization (model 5)")]

SOOT_SOURCE = "mol/(kg s)"
GAS_RATE = "kmol/(m3 s)"

# the inflow rows of solve() as they stand, and what to use instead
_INFLOW_LIMIT = (
    "Limit: solve()'s inflow rows (the left row, and the right row under the flux condition) "
    "carry the diffusive flux with the sign reversed (mdot N0 + rho D (N1 - N0)/dz = rho u "
    "N_in on the left): the soot at an inflow face can come out negative, and on fine grids "
    "(mdot < rho D/dz) the face row changes sign and the profiles blow up. fumivex2.solve_steady "
    "and fumivex2.pseudo_time_steps solve the soot equations with inflow rows that balance "
    "the soot flux into the domain against what the entering gas brings; the run layer uses "
    "those.")

_CLASS_DOCS = {
    "CSootModel": "The soot model: four soot variables per kg of gas (N_agg, N_pri, C_tot, "
                  "H_tot, in mol/kg) and their source terms at one gas state. Give it "
                  "species_names, MWs (kg/mol) and the PAH lists, call initialize(); then per "
                  "point update_gas, update_solution, S_N_agg ... S_H_tot, update_scrub_wdot.",
    "CSootGas": "A small record of one gas state (T, P, mole fractions, density, viscosity, "
                "molar masses) with concentrations, mass fractions and the mean free path. "
                "Values are stored as given, without unit conversion.",
    "CPFROde": "Right-hand side dy/dz of a steady plug-flow reactor with soot, for a stiff "
               "ODE integrator. State: residence time [s], mass flux [kg/(m2 s)], T [K], the "
               "K mass fractions, then (soot on) N_agg, N_pri, C_tot, H_tot [mol/kg].",
    "CFlameSolver": "Soot through a converged 1-D flame: implicit pseudo-time stepping of the "
                    "four soot variables on a grid of your choice, with NumPy arrays for every "
                    "profile (NumPy's float rules: a zero divisor gives inf/NaN). " + _INFLOW_LIMIT,
    "CFlameSolverOpt": "Soot through a converged 1-D flame, as CFlameSolver, holding plain "
                       "vectors (read back as lists), a tridiagonal system instead of a dense "
                       "matrix, separate left and right inlet values, and ZeroDivisionError "
                       "instead of inf/NaN. " + _INFLOW_LIMIT,
}

_DUNDERS = [
    ("__reduce__", "", "Pickling: the type and one flat tuple of every stored field."),
    ("__setstate__", "", "Pickling: restores the stored fields from that tuple."),
    ("__copy__", "", "A shallow copy: numbers and vectors copied, objects shared."),
    ("__deepcopy__", "", "An independent copy (copy.deepcopy)."),
]


def _soot_model():
    S = []
    S.append(("Life cycle and per-point sequence", [
        ("__init__", "", "A new model with every default: reactive dimerization, empirical "
         "alpha, coalescence disabled, no validation case, soot variables at their floors."),
        ("species_names", "", "Names of all gas species in the mechanism's order; the seven key "
         "species C2H2, H2, H, CO, O2, OH, H2O must appear under exactly these names."),
        ("MWs", "kg/mol", "Molar mass of every gas species, mechanism order. kg/mol, not "
         "Cantera's kg/kmol: divide gas.molecular_weights by 1000."),
        ("PAH_index_in_gas", "", "Gas-species index of each PAH the model uses for inception "
         "and condensation (list; the PAH position in this list is the PAH id)."),
        ("PAH_Number_Carbon", "-", "Carbon atoms of each PAH, same order as PAH_index_in_gas."),
        ("PAH_Number_Hydrogen", "-", "Hydrogen atoms of each PAH, same order."),
        ("checkNameOfSpecies", "", "Checks that the seven key species are in species_names; "
         "raises ValueError naming the first missing one, else prints a confirmation line and "
         "returns True."),
        ("initialize", "", "Binds the model to the mechanism: checks the key species, records "
         "their indices, builds the PAH-pair tables of the selected growth model. Call after "
         "species_names and the PAH lists, and again after changing the growth model."),
        ("initialize_stick_eff", "", "Fills stick_eff from the PAH molar masses "
         "(15 * MW^4, MW in kg/mol). Needed after initialize() for the self-collision models, "
         "which otherwise have zero inception."),
        ("update_gas", "", "Stores the gas state: T [K], P [Pa], density [kg/m3], viscosity "
         "[Pa s], mean_MW [kg/kmol, stored divided by 1000], X (mole-fraction array, kept "
         "without copying). Zeroes scrub_wdot and refreshes the mean free path."),
        ("update_solution", "", "Loads the soot block [N_agg, N_pri, C_tot, H_tot] in mol/kg "
         "(each floored at its N_agg_min ... H_tot_min), then refreshes particle sizes, the PAH-growth state "
         "and the cached growth and oxidation rates. Call after update_gas."),
        ("S_N_agg", SOOT_SOURCE, "Source term of N_agg: inception + coagulation (+ the other "
         "processes, which are zero for N_agg)."),
        ("S_N_pri", SOOT_SOURCE, "Source term of N_pri: inception + coalescence."),
        ("S_C_tot", SOOT_SOURCE, "Source term of C_tot: inception + growth + oxidation."),
        ("S_H_tot", SOOT_SOURCE, "Source term of H_tot: inception + growth (with carbonization) "
         "+ oxidation."),
        ("update_scrub_wdot", GAS_RATE, "Adds to scrub_wdot the gas-species rates caused by soot "
         "(PAH and acetylene consumed, H, H2, CO released, O2 and OH consumed). Call once per "
         "point after update_solution; a second call at the same point adds again."),
        ("scrub_wdot", GAS_RATE, "Gas-species production rates due to soot, one per species "
         "(mechanism order); zeroed by update_gas, filled by update_scrub_wdot."),
    ]))
    S.append(("Process contributions", [
        ("inception", SOOT_SOURCE, "Inception contribution to soot variable soot_variable "
         "(1 N_agg, 2 N_pri, 3 C_tot, 4 H_tot; enumeration VI); 0.0 when switched off."),
        ("growth", SOOT_SOURCE, "Surface-growth contribution (HACA + PAH adsorption, plus "
         "carbonization for H_tot) to soot variable soot_variable (1-4)."),
        ("oxidation", SOOT_SOURCE, "Oxidation contribution (O2 and OH) to soot variable "
         "soot_variable (1-4); negative."),
        ("coagulation", SOOT_SOURCE, "Coagulation contribution (N_agg only) to soot variable "
         "soot_variable (1-4); negative."),
        ("coalescence", SOOT_SOURCE, "Coalescence contribution (N_pri only) to soot variable "
         "soot_variable (1-4); negative."),
    ]))
    S.append(("Selectors", [
        ("PAH_growth_model_name", "", "PAH inception/condensation model by name: "
         "'reactive_dimerization', 'self_collision', 'self_collision_lump', 'cross_linking', "
         "'irreversible_dimerization'. Setting it rebinds the model; call initialize() after."),
        ("PAH_growth_model", "", "Number of the selected PAH growth model, 1-5 (raw state: "
         "writing it does not rebind anything)."),
        ("_set_PAH_growth_model", "", "Selects PAH growth model 1-5 (an int or a "
         "PAH_GROWTH_MODELS member) and binds its six operation slots; other values are "
         "ignored."),
        ("alpha_model", "", "Fraction-of-active-sites model by name: 'constant', 'empirical', "
         "'composition'."),
        ("_alpha_model", "", "Number of the selected alpha model, 0-2 (raw state)."),
        ("_set_alpha_model", "", "Selects alpha model 0 (constant), 1 (empirical) or "
         "2 (composition, from H/C); ValueError for other values."),
        ("coalescence_type", "", "Coalescence law by name: 'titania', 'silica', 'md-derived', "
         "'CtoH-based', 'disabled'."),
        ("soot_coales_type", "", "The value last given to _set_coales_type (raw state)."),
        ("_set_coales_type", "", "Selects coalescence type 0 (disabled), 1 (titania), 2 (silica), "
         "3 (MD-derived), 4 (C/H-based); sets its constants and coalescence_enabled."),
        ("validation", "", "Validation case by name: 'no_validation' (normal operation) or "
         "'coagulation' (free-molecular coagulation kernel, constant soot diffusivity)."),
        ("validation_case", "", "Number of the selected validation case, 0 or 1 (raw state)."),
        ("_set_validation_case", "", "Selects validation case 0 (no_validation) or 1 "
         "(coagulation): binds beta_coag and diffus_coeff; ValueError for other values."),
    ]))
    S.append(("Process switches", [
        ("inception_enabled", "", "Particle inception by PAH dimerization on (default True)."),
        ("growth_enabled", "", "Surface growth on (default True); HACA, PAH adsorption and "
         "carbonization all need it."),
        ("growth_HACA_enabled", "", "HACA surface growth (acetylene addition) on (default True)."),
        ("growth_PAH_adsorption_enabled", "", "Growth by PAH adsorption/condensation on "
         "(default True)."),
        ("carbonization_enabled", "", "Carbonization (thermal loss of soot hydrogen) on "
         "(default False)."),
        ("oxidation_enabled", "", "Oxidation by O2 and OH on (default True)."),
        ("coagulation_enabled", "", "Coagulation of aggregates on (default True)."),
        ("coalescence_enabled", "", "Coalescence of primaries on (default False; set by the "
         "coalescence type)."),
        ("scrubbing_enabled", "", "update_scrub_wdot computes the gas-species rates due to soot "
         "(default True)."),
        ("steady_state_physical_dimerization", "", "Reactive dimerization: the physical PAH dimer "
         "in quasi-steady state (True, default) or read from a transported gas pseudo-species "
         "(False, needs phy_dimer_index_in_gas)."),
        ("steady_state_PAH_adsorption", "", "Reactive dimerization: the soot-PAH surface complex "
         "in quasi-steady state (True, default) or transported (False, needs "
         "soot_PAH_index_in_gas)."),
        ("modified_particle_addition", "", "Reactive and irreversible dimerization: count new "
         "particles as dimer carbon / min_n_C instead of one per dimer (default False)."),
        ("use_unity_alpha", "", "Stored only; the alpha model is chosen by alpha_model."),
        ("use_empirical_alpha", "", "Stored only; the alpha model is chosen by alpha_model."),
    ]))
    S.append(("Soot variables and their floors", [
        ("N_agg", "mol/kg", "Aggregates per kg of gas (number / Avogadro), as loaded by "
         "update_solution."),
        ("N_pri", "mol/kg", "Primary particles per kg of gas."),
        ("C_tot", "mol/kg", "Carbon atoms held in soot per kg of gas."),
        ("H_tot", "mol/kg", "Hydrogen atoms held in soot per kg of gas."),
        ("N_agg_min", "mol/kg", "Floor of N_agg (one particle / Avogadro); the soot-free state."),
        ("N_pri_min", "mol/kg", "Floor of N_pri."),
        ("C_tot_min", "mol/kg", "Floor of C_tot (min_n_C atoms / Avogadro)."),
        ("H_tot_min", "mol/kg", "Floor of H_tot (min_n_H atoms / Avogadro)."),
        ("N_agg_offset", "", "Position of N_agg in the soot block given to update_solution (0)."),
        ("N_pri_offset", "", "Position of N_pri in the soot block (1)."),
        ("C_tot_offset", "", "Position of C_tot in the soot block (2)."),
        ("H_tot_offset", "", "Position of H_tot in the soot block (3)."),
        ("Phy_dimer_offset", "", "Reserved position of a physical-dimer entry (-1: absent)."),
        ("PAH_soot_offset", "", "Reserved position of a soot-PAH entry (-1: absent)."),
        ("dimer_offset", "", "Reserved, never assigned (0)."),
        ("soot_PAH_offset", "", "Reserved, never assigned (0)."),
    ]))
    S.append(("Gas state (set by update_gas)", [
        ("T", "K", "Gas temperature."),
        ("P", "Pa", "Pressure."),
        ("density", "kg/m3", "Gas density."),
        ("viscosity", "Pa s", "Dynamic viscosity of the gas."),
        ("mean_MW", "kg/mol", "Mean molar mass (the kg/kmol value given to update_gas / 1000)."),
        ("X", "-", "Gas mole fractions, mechanism order (the caller's array itself)."),
        ("p_lambda_gas", "m", "Mean free path of the gas, refreshed by update_gas."),
        ("molar_density", "mol/m3", "Concentration of gas species index (X * density / mean_MW)."),
        ("calc_lambda_gas", "m", "Mean free path of the gas, computed afresh."),
    ]))
    S.append(("Species bookkeeping", [
        ("C2H2_index", "", "Index of C2H2 in species_names (set by initialize)."),
        ("H2_index", "", "Index of H2 (set by initialize)."),
        ("H_index", "", "Index of H (set by initialize)."),
        ("CO_index", "", "Index of CO (set by initialize)."),
        ("O2_index", "", "Index of O2 (set by initialize)."),
        ("OH_index", "", "Index of OH (set by initialize)."),
        ("H2O_index", "", "Index of H2O (set by initialize)."),
        ("stick_eff", "-", "Sticking efficiency of each PAH (self-collision models); "
         "initialize_stick_eff() fills it."),
        ("PAH_sticking_efficiency", "-", "The same values as stick_eff, under a second name."),
        ("pre_stick_eff", "-", "Stored prefactors of the sticking efficiencies; no rate reads "
         "them."),
        ("soot_PAH_index_in_gas", "", "Gas index of each soot-PAH complex pseudo-species "
         "(reactive dimerization with a transported complex)."),
        ("phy_dimer_index_in_gas", "", "Gas index of each physical-dimer pseudo-species, one per "
         "PAH pair (reactive dimerization with a transported dimer)."),
        ("phy_dimer_wdot", GAS_RATE, "Net production rate of each physical-dimer "
         "pseudo-species (transported dimer only)."),
        ("soot_PAH_wdot", GAS_RATE, "Net production rate of each soot-PAH pseudo-species "
         "(transported complex only)."),
        ("soot_PAH_MWs", "", "Reserved; None."),
    ]))
    S.append(("Physical constants (read-only)", [
        ("rho_soot", "kg/m3", "Density of soot material (1800)."),
        ("MW_carbon", "kg/mol", "Molar mass of carbon."),
        ("MW_hydrogen", "kg/mol", "Molar mass of hydrogen."),
        ("Av", "1/mol", "Avogadro's number."),
        ("kB", "J/K", "Boltzmann's constant."),
        ("R", "J/(mol K)", "Gas constant."),
        ("P_atm", "Pa", "Reference pressure (one atmosphere)."),
        ("Pi", "-", "The model's value of pi (ten decimals)."),
        ("d_A", "m", "Size of one aromatic ring (sqrt(3) times the aromatic C-C bond length); "
         "sets PAH diameters in the lumped self-collision model."),
        ("min_n_C", "-", "Carbon atoms in the smallest soot particle (378); new particles are "
         "counted in units of it."),
        ("min_n_H", "-", "Hydrogen atoms in the smallest soot particle (20)."),
        ("d_p_min", "m", "Diameter of the smallest primary particle (min_n_C carbon atoms at "
         "soot density); below it the carbon oxidation fluxes are zero (it gates nothing else)."),
        ("A_p_min", "m2", "Surface of the smallest primary particle."),
    ]))
    S.append(("Particle morphology and bulk properties", [
        ("volume_fraction", "-", "Soot volume fraction, m3 of soot per m3 of gas (carbon and "
         "hydrogen mass at soot density)."),
        ("total_mass", "kg/kg", "Soot mass per kg of gas."),
        ("carbon_mass", "kg/kg", "Carbon in soot per kg of gas."),
        ("hydrogen_mass", "kg/kg", "Hydrogen in soot per kg of gas."),
        ("SSA", "m2/g", "Specific surface area of soot."),
        ("V_tot", "m3/kg", "Soot (carbon) volume per kg of gas."),
        ("A_tot", "m2/kg", "Total primary-particle surface per kg of gas."),
        ("A_Ag", "m2", "Surface of one aggregate."),
        ("V_Ag", "m3", "Volume of one aggregate."),
        ("m_Ag", "kg", "Mass of one aggregate."),
        ("d_m", "m", "Mobility diameter of an aggregate (d_p * n_p^0.45, at least d_p)."),
        ("d_g", "m", "Gyration diameter of an aggregate."),
        ("V_p", "m3", "Volume of one primary particle."),
        ("A_p", "m2", "Surface of one primary particle."),
        ("d_p", "m", "Primary-particle diameter (soot carbon volume shared by all primaries)."),
        ("n_p", "-", "Primary particles per aggregate (N_pri / N_agg)."),
        ("m_p", "kg", "Mass of one primary particle."),
        ("dispersion_exponent", "-", "Optical dispersion exponent from the soot H/C ratio."),
        ("diffus_coeff_morph", "m2/s", "Diffusion coefficient of an aggregate from its mobility "
         "diameter with slip correction (cached sizes)."),
        ("diffus_coeff_const", "m2/s", "The fixed diffusion coefficient diffus_coeff_const_val."),
        ("diffus_coeff_const_val", "m2/s", "Fixed soot diffusion coefficient of the coagulation "
         "validation case."),
        ("diffus_coeff", "m2/s", "Slot: the soot diffusion coefficient in use "
         "(diffus_coeff_morph, or diffus_coeff_const in the validation case); the flame solvers "
         "and wall deposition call it."),
        ("p_d_p", "m", "Cached primary diameter (refreshed by update_solution)."),
        ("p_d_m", "m", "Cached mobility diameter."),
        ("p_d_g", "m", "Cached gyration diameter."),
        ("p_A_tot", "m2/kg", "Cached total primary-particle surface per kg of gas."),
    ]))
    S.append(("Operation slots (bound by the selectors)", [
        ("inception_N_agg", SOOT_SOURCE, "Slot: the growth model's inception source of N_agg "
         "(also used for N_pri)."),
        ("inception_C_tot", SOOT_SOURCE, "Slot: the growth model's inception source of C_tot."),
        ("inception_H_tot", SOOT_SOURCE, "Slot: the growth model's inception source of H_tot."),
        ("PAH_growth_update", "", "Slot: the growth model's per-point update "
         "(called by update_solution)."),
        ("create_PAH_dimer", "", "Slot: the growth model's set-up of its PAH tables "
         "(called by initialize)."),
        ("update_scrub_wdot_PAH_growth", GAS_RATE, "Slot: the growth model's PAH terms of "
         "scrub_wdot."),
        ("alpha", "-", "Slot: the selected fraction of active surface sites "
         "(alpha_constant, alpha_empirical or alpha_ctoh_based)."),
        ("beta_coag", "m3/s", "Slot: the coagulation kernel in use (beta_coag_hm, or "
         "beta_coag_validation)."),
        ("t_coales", "s", "Slot: the characteristic coalescence time of the coalescence type "
         "(None when disabled)."),
        ("N_pri_coales", SOOT_SOURCE, "Slot: the coalescence rate of N_pri (None when disabled)."),
        ("dC_tot_dt_PAH_each", SOOT_SOURCE, "Unused slot (None unless assigned)."),
        ("dH_tot_dt_PAH_each", SOOT_SOURCE, "Unused slot (None unless assigned)."),
    ]))
    rd = [
        ("update_phy_dimer_", "", "Fills p_phy_dimer_ (steady-state balance, or read from the "
         "transported pseudo-species)."),
        ("reduced_m", "kg", "Reduced mass of PAHs PAH_1_id and PAH_2_id (positions in the PAH "
         "lists)."),
        ("reduced_d", "m", "Collision diameter of the PAH pair."),
        ("k_FWD", "m3/(mol s)", "Physical dimerization rate constant of the PAH pair."),
        ("k_REV", "1/s", "Dissociation rate of the physical dimer of the pair."),
        ("k_REAC", "1/s", "Rate of the irreversible reaction of a physical dimer into a nucleus."),
        ("ROP_dimer", "mol/(m3 s)", "Reaction rate of dimer pair dimer_id (k_REAC * dimer "
         "concentration)."),
        ("beta_fm_soot_PAH", "m3/s", "Free-molecular collision kernel of an aggregate with PAH "
         "PAH_id."),
        ("beta_cont_soot_PAH", "m3/s", "Continuum collision kernel of an aggregate with PAH "
         "PAH_id."),
        ("C_S_soot", "-", "Cunningham slip correction factor at diameter d [m]."),
        ("k_f_soot_PAH", "m3/(mol s)", "Adsorption rate constant of PAH PAH_id on soot "
         "(transition between the two kernels)."),
        ("k_r_soot_PAH", "1/s", "Desorption rate of the soot-PAH complex of PAH PAH_id."),
        ("k_PAH", "1/s", "Rate of the soot-PAH complex reacting into soot."),
        ("soot_PAH_star", "mol/m3", "Steady-state concentration of the soot-PAH complex of "
         "PAH PAH_id."),
        ("dC_tot_dt_PAH", SOOT_SOURCE, "Carbon growth by PAH adsorption, summed over the PAHs."),
        ("dH_tot_dt_PAH", SOOT_SOURCE, "Hydrogen growth by PAH adsorption, summed over the "
         "PAHs."),
        ("update_phy_dimer_wdot", "", "Fills phy_dimer_wdot (transported dimer only)."),
        ("update_soot_PAH_wdot", "", "Fills soot_PAH_wdot (transported complex only)."),
        ("update_p_soot_PAH", "", "Refreshes the soot-PAH complex concentrations."),
        ("p_phy_dimer_", "mol/m3", "Concentration of each physical dimer (one per PAH pair)."),
        ("p_ROP", "mol/(m3 s)", "Dimer formation rate per PAH pair (models 1, 5) or per PAH "
         "(model 4), never negative in models 1 and 4."),
        ("dimer_n_C", "-", "Carbon atoms of each dimer (per pair)."),
        ("dimer_n_H", "-", "Hydrogen atoms of each dimer (per pair)."),
        ("K_REACT_prefactor", "-", "Multiplier of the dimer reaction rate k_REAC."),
        ("Ea_REACT_prefactor", "-", "Multiplier of the activation energy of k_REAC "
         "(96.2 kJ/mol)."),
        ("k_FWD_prefactor", "-", "Multiplier of the physical dimerization rate k_FWD."),
        ("K_PAH_ADS_prefactor", "-", "Multiplier of the complex reaction rate k_PAH."),
        ("Ea_PAH_ADS_prefactor", "-", "Multiplier of the activation energy of k_PAH "
         "(96.2 kJ/mol)."),
    ]
    S.append(("Reactive dimerization (model 1) and PAH adsorption", rd))
    S.append(("Self-collision (models 2 and 3)", [
        ("update_omega_PAH", "", "Fills omega_PAH and omega_PAH_tot."),
        ("omega_PAH", "mol/(m3 s)", "Self-collision (dimer production) rate of each PAH."),
        ("omega_PAH_tot", "mol/(m3 s)", "Sum of omega_PAH."),
        ("update_ab", "", "Model 2: fills a_inc and b_cond."),
        ("a_inc", "m3/(mol s)", "Model 2: dimer-dimer collision coefficient of each PAH's "
         "dimer."),
        ("b_cond", "1/s", "Model 2: dimer-soot collision frequency (kernel times aggregates "
         "per m3)."),
        ("update_dimer_", "", "Model 2: solves the quadratic dimer balance into _dimer_."),
        ("_dimer_", "mol/m3", "Model 2: quasi-steady dimer concentration of each PAH."),
        ("update_w_inc", "", "Model 2: fills w_inc."),
        ("w_inc", "mol/(m3 s)", "Model 2: inception event rate (dimer-dimer collisions) per "
         "PAH."),
        ("update_w_cond", "", "Model 2: fills w_cond."),
        ("w_cond", "mol/(m3 s)", "Model 2: condensation rate of dimers on soot per PAH."),
        ("update_dimer_weight", "", "Model 3: fills dimer_weight."),
        ("dimer_weight", "-", "Model 3: share of each PAH in the lumped dimer."),
        ("update_ab_lump", "", "Model 3: composition and collision coefficients of the lumped "
         "dimer."),
        ("lumpdimer_n_C", "-", "Model 3: carbon atoms of the lumped dimer."),
        ("lumpdimer_n_H", "-", "Model 3: hydrogen atoms of the lumped dimer."),
        ("a_lumpinc", "m3/(mol s)", "Model 3: dimer-dimer collision coefficient."),
        ("b_lumpcond", "1/s", "Model 3: dimer-soot collision frequency."),
        ("update_lumpdimer_", "", "Model 3: solves the lumped dimer balance into _lumpdimer_."),
        ("_lumpdimer_", "mol/m3", "Model 3: quasi-steady concentration of the lumped dimer."),
        ("update_w_lumpinc", "", "Model 3: fills w_lumpinc."),
        ("w_lumpinc", "mol/(m3 s)", "Model 3: inception event rate."),
        ("update_w_lumpcond", "", "Model 3: fills w_lumpcond."),
        ("w_lumpcond", "mol/(m3 s)", "Model 3: condensation rate of the lumped dimer on soot."),
    ]))
    S.append(("Cross-linking (model 4) and irreversible dimerization (model 5)", [
        ("m_PAH", "kg", "Mass of one molecule of PAH PAH_id."),
        ("d_PAH", "m", "Diameter of PAH PAH_id."),
        ("update_PAH_radical", "", "Model 4: fills p_PAH_radical_."),
        ("PAH_radical", "mol/m3", "Model 4: quasi-steady concentration of the radical of PAH "
         "PAH_id."),
        ("p_PAH_radical_", "mol/m3", "Model 4: PAH radical concentrations."),
        ("k_f3_crosslinking", "m3/(mol s)", "Model 4: radical + PAH dimerization rate constant."),
        ("k_f4_crosslinking", "m3/(mol s)", "Model 4: radical adsorption rate constant on soot."),
        ("update_ROP_crosslinking", "", "Model 4: fills p_ROP."),
        ("ROP_dimer_crosslinking", "mol/(m3 s)", "Model 4: dimerization rate of PAH PAH_id."),
        ("PAH_adsorption_rate", "mol/(m3 s)", "Model 4: adsorption rate of the radical of PAH "
         "PAH_id on primaries."),
        ("k_PAH_ads_irrevd", "m3/s", "Model 5: free-molecular aggregate-PAH collision kernel."),
        ("cross_k_f1_prefactor", "-", "Model 4: multiplier of H abstraction from the PAH."),
        ("cross_k_r1_prefactor", "-", "Model 4: multiplier of the reverse abstraction "
         "(radical + H2)."),
        ("cross_k_f2_prefactor", "-", "Model 4: multiplier of H addition to the radical."),
        ("cross_k_f3_prefactor", "-", "Model 4: multiplier of radical + PAH dimerization."),
        ("adsorb_eff", "-", "Model 4: adsorption efficiency of radicals on soot."),
    ]))
    per_model = []
    for suffix, label in MODELS:
        per_model += [
            (f"create_PAH_dimer_{suffix}", "", f"{label}: sets up the PAH tables."),
            (f"PAH_growth_update_{suffix}", "", f"{label}: per-point update of its state."),
            (f"inception_N_agg_{suffix}", SOOT_SOURCE, f"{label}: inception source of N_agg."),
            (f"inception_C_tot_{suffix}", SOOT_SOURCE, f"{label}: inception source of C_tot."),
            (f"inception_H_tot_{suffix}", SOOT_SOURCE, f"{label}: inception source of H_tot."),
            (f"update_scrub_wdot_PAH_growth_{suffix}", GAS_RATE,
             f"{label}: adds its PAH terms to scrub_wdot."),
            (f"dC_tot_dt_PAH_each_{suffix}", SOOT_SOURCE,
             f"{label}: carbon growth by PAH PAH_id."),
            (f"dH_tot_dt_PAH_each_{suffix}", SOOT_SOURCE,
             f"{label}: hydrogen growth by PAH PAH_id."),
        ]
    per_model += [
        ("p_dC_tot_dt_PAH", SOOT_SOURCE, "Cached carbon growth by PAH adsorption/condensation."),
        ("p_dH_tot_dt_PAH", SOOT_SOURCE, "Cached hydrogen growth by PAH adsorption/condensation."),
        ("p_dC_tot_dt_PAH_each", SOOT_SOURCE, "Cached carbon growth per PAH."),
        ("p_dH_tot_dt_PAH_each", SOOT_SOURCE, "Cached hydrogen growth per PAH."),
    ]
    S.append(("Per-model operations of the five growth models", per_model))
    S.append(("HACA surface growth, active sites and carbonization", [
        ("dC_tot_dt_HACA_alt", SOOT_SOURCE, "Carbon growth by HACA (site balance); the form "
         "used in the source terms."),
        ("dH_tot_dt_HACA_alt", SOOT_SOURCE, "Hydrogen growth accompanying HACA (1/8 of the "
         "carbon rate)."),
        ("c_soot_nought", "mol/kg", "Radical surface sites per kg of gas (steady-state site "
         "balance)."),
        ("alpha_constant", "-", "Active-site fraction alpha_constant_value."),
        ("alpha_empirical", "-", "Active-site fraction from temperature and primary size."),
        ("alpha_ctoh_based", "-", "Active-site fraction from the soot H/C ratio."),
        ("alpha_constant_value", "-", "Site fraction of the constant alpha model."),
        ("HACA_prefactor", "-", "Multiplier of the HACA growth rate."),
        ("dC_tot_dt_HACA", SOOT_SOURCE, "Carbon growth by HACA, collision-efficiency form "
         "(not used in the source terms)."),
        ("K_s", "m3/(mol s)", "Acetylene addition rate constant of the collision form."),
        ("chi_soot_0", "1/m2", "Radical site density of the collision form."),
        ("beta_soot_C2H2", "m3/s", "Acetylene-particle collision kernel."),
        ("gamma", "-", "Reaction probability of an acetylene-particle collision."),
        ("dH_tot_dt_carb", SOOT_SOURCE, "Hydrogen loss by carbonization (zero or negative)."),
        ("A_carb", "1/s", "Pre-exponential factor of carbonization."),
        ("Ea_carb", "J/mol", "Activation energy of carbonization."),
        ("p_dC_tot_dt_HACA_alt", SOOT_SOURCE, "Cached dC_tot_dt_HACA_alt."),
        ("p_dH_tot_dt_HACA_alt", SOOT_SOURCE, "Cached dH_tot_dt_HACA_alt."),
        ("p_dH_tot_dt_carb", SOOT_SOURCE, "Cached dH_tot_dt_carb."),
    ]))
    S.append(("Oxidation", [
        ("dC_tot_dt_O2_alt", SOOT_SOURCE, "Carbon loss by O2 at radical sites (site form, used "
         "in the source terms); zero for soot with H/C at most 0.1."),
        ("dC_tot_dt_OH_alt", SOOT_SOURCE, "Carbon loss by OH (used in the source terms)."),
        ("dH_tot_dt_O2_alt", SOOT_SOURCE, "Hydrogen change by O2 in the site form (always 0)."),
        ("dH_tot_dt_OH_alt", SOOT_SOURCE, "Hydrogen change by OH in the site form (always 0)."),
        ("omega_O2", "kg/(m2 s)", "Surface-specific carbon oxidation flux by O2 "
         "(surface-flux form)."),
        ("omega_OH", "kg/(m2 s)", "Surface-specific carbon oxidation flux by OH."),
        ("dC_tot_dt_O2", SOOT_SOURCE, "Carbon loss by O2, surface-flux form (not in the source "
         "terms)."),
        ("dC_tot_dt_OH", SOOT_SOURCE, "Carbon loss by OH, surface-flux form."),
        ("dH_tot_dt_O2", SOOT_SOURCE, "Hydrogen loss by O2, surface-flux form."),
        ("dH_tot_dt_OH", SOOT_SOURCE, "Hydrogen loss by OH, surface-flux form."),
        ("dC_tot_dt_Ox", SOOT_SOURCE, "Cached carbon loss by OH + O2 (as in the source terms)."),
        ("dH_tot_dt_Ox", SOOT_SOURCE, "Cached hydrogen change by OH + O2."),
        ("p_dC_tot_dt_O2", SOOT_SOURCE, "Cached dC_tot_dt_O2_alt."),
        ("p_dC_tot_dt_OH", SOOT_SOURCE, "Cached dC_tot_dt_OH_alt."),
        ("p_dH_tot_dt_O2", SOOT_SOURCE, "Cached dH_tot_dt_O2_alt."),
        ("p_dH_tot_dt_OH", SOOT_SOURCE, "Cached dH_tot_dt_OH_alt."),
    ]))
    S.append(("Coagulation and coalescence", [
        ("N_agg_coag", SOOT_SOURCE, "Loss of aggregates by coagulation (negative)."),
        ("beta_coag_hm", "m3/s", "Transition-regime coagulation kernel (free-molecular and "
         "continuum combined); the normal kernel."),
        ("beta_coag_fm", "m3/s", "Free-molecular coagulation kernel."),
        ("beta_coag_cont", "m3/s", "Continuum coagulation kernel with slip correction."),
        ("beta_coag_validation", "m3/s", "Kernel of the coagulation validation case "
         "(free-molecular)."),
        ("beta_coag_turb", "m3/s", "Turbulent coagulation kernel (zero with K_T_factor 0)."),
        ("K_T_factor", "1/s", "Factor of the turbulent kernel (0: no turbulent coagulation)."),
        ("N_pri_coales_sintering", SOOT_SOURCE, "Loss of primaries by sintering within "
         "aggregates."),
        ("N_pri_coales_merge", SOOT_SOURCE, "Loss of primaries by merging of hydrogen-rich "
         "particles (C/H below CtoH_crit)."),
        ("t_f_titania", "s", "Sintering time, titania law."),
        ("t_f_silica", "s", "Sintering time, silica law."),
        ("t_f_md_derived", "s", "Sintering time, size-independent law fitted to molecular "
         "dynamics."),
        ("Ea_coales", "K", "Activation temperature of the sintering time (set by the "
         "coalescence type)."),
        ("As_coales", "law-dependent", "Prefactor of the sintering time (set by the "
         "coalescence type; s/(m4 K) titania, s/m silica)."),
        ("d_crit_coales", "m", "Critical diameter of the silica law."),
        ("t_coales_min", "s", "Lower bound of the coalescence time."),
        ("CtoH_crit", "-", "C/H atom ratio below which merging coalescence acts."),
    ]))
    S.append(("Pickling and copying", list(_DUNDERS)))
    return S


def _soot_gas():
    return [
        ("Stored state", [
            ("__init__", "", "An empty record (no species, all values 0)."),
            ("_T", "K", "Temperature."),
            ("_P", "Pa", "Pressure."),
            ("_X", "-", "Mole fractions, one per species (list)."),
            ("_MWs", "kg/mol", "Species molar masses as given; they do not enter the mean free path."),
            ("_rho", "kg/m3", "Density."),
            ("_mu", "Pa s", "Dynamic viscosity."),
            ("_mean_MW", "kg/mol", "Mean molar mass as given (no conversion)."),
            ("T", "K", "Temperature (read-only view of _T)."),
            ("P", "Pa", "Pressure."),
            ("rho", "kg/m3", "Density."),
            ("mu", "Pa s", "Dynamic viscosity."),
            ("mean_MW", "kg/mol", "Mean molar mass as stored."),
            ("MWs", "kg/mol", "A copy of the species molar masses."),
            ("n_species", "", "Number of stored molar masses."),
        ]),
        ("Updates", [
            ("update", "", "Sets T [K], P [Pa], X, rho [kg/m3], mu [Pa s], mean_MW "
             "[kg/mol]; nothing stored if any argument fails to convert."),
            ("update_TPX", "", "Sets T [K], P [Pa] and the mole fractions X."),
            ("update_mean_MW", "", "Sets the mean molar mass (stored as given)."),
            ("update_rho", "", "Sets the density [kg/m3]."),
            ("update_mu", "", "Sets the viscosity [Pa s]."),
            ("update_MWs", "", "Replaces the species molar masses."),
        ]),
        ("Derived quantities", [
            ("X", "-", "Mole fraction of species index."),
            ("MW", "kg/mol", "Molar mass of species index (as stored)."),
            ("Y", "-", "Mass fraction of species index (X * MW / mean_MW)."),
            ("C", "mol/m3", "Concentration of species index (X * rho / mean_MW)."),
            ("lambda_gas", "m", "Mean free path of the gas."),
            ("_lambda_gas", "m", "Mean free path of the gas (method form)."),
        ]),
        ("Pickling and copying", list(_DUNDERS)),
    ]


def _pfr():
    return [
        ("Use", [
            ("__init__", "", "A reactor right-hand side on a Cantera-like phase; reads its "
             "pressure and production rates."),
            ("__call__", "", "dy/dz at axial position t [m] for state y: 1/u [s/m], d(mass "
             "flux)/dz [kg/(m3 s)], dT/dz [K/m], dY/dz [1/m], then (soot on) dN_agg/dz ... "
             "dH_tot/dz [mol/(kg m)]."),
            ("initialize", "", "Checks the configuration (soot model present, geometry "
             "positive, exactly one temperature mode) before integration."),
            ("gas", "", "The phase object (Cantera Solution or alike) set to each evaluated "
             "state."),
            ("soot_model", "", "The initialised CSootModel driven at each evaluation (soot on)."),
            ("soot_enabled", "", "Carry soot: assign True or False before initialize(); True "
             "sets soot_offset after the K mass fractions."),
        ]),
        ("Geometry and conditions", [
            ("area", "m2", "Cross-section of the duct."),
            ("perimeter", "m", "Wetted perimeter of the duct."),
            ("P", "Pa", "Reactor pressure (the phase's at construction), constant."),
            ("_use_temp_value", "", "Temperature follows the wall-temperature profile temp_value "
             "through the wall heat flux."),
            ("temp_value", "m, K", "Wall-temperature table: row 0 axial positions, row 1 wall "
             "temperatures; linear in between."),
            ("_use_temp_time_history", "", "Temperature follows the prescribed dT/dt of "
             "time_derivative_temp_history."),
            ("time_derivative_temp_history", "m, K/s", "Temperature-history table: row 0 axial "
             "positions, row 1 dT/dt."),
            ("_enable_fixed_density", "", "Use fixed_density instead of the phase's density."),
            ("fixed_density", "kg/m3", "Density used when _enable_fixed_density is set."),
            ("_use_fixed_density", "", "Stored only; nothing reads it."),
            ("_enable_soot", "", "Stored only; soot is switched by soot_enabled."),
            ("_enable_wall_deposition", "", "Remove soot by deposition on the wall "
             "(k_dep computed at each evaluation)."),
            ("k_dep", "m/s", "Wall deposition mass-transfer coefficient (written per evaluation "
             "with wall deposition)."),
            ("deposit_thickness_growth_rate", "s/m", "With wall deposition: soot volume per gas "
             "volume (mobility spheres) divided by the velocity; set per evaluation on "
             "subclass instances, read by nothing."),
            ("external_heat", "W/m3", "Wall heat source at position z [m] and gas temperature "
             "T [K]."),
            ("reynolds", "-", "Reynolds number of the last evaluation (hydraulic diameter)."),
            ("fanning_friction", "-", "Fanning friction factor (Blasius) from reynolds()."),
            ("Nu_const_temp", "-", "Nusselt number at constant wall temperature (3.66)."),
            ("Nu_const_heat", "-", "Nusselt number at constant wall heat flux (4.63; unused)."),
        ]),
        ("State layout and last evaluation", [
            ("Rt_offset", "", "Position of the residence time [s] in the state (0)."),
            ("rho_u_vfv_offset", "", "Position of the mass flux [kg/(m2 s)] in the state (1)."),
            ("T_offset", "", "Position of the temperature [K] (2)."),
            ("Y_offset", "", "Position of the first mass fraction (3)."),
            ("soot_offset", "", "Position of N_agg, the first soot entry (3 + K with soot on)."),
            ("u", "m/s", "Gas velocity of the last evaluation."),
            ("wdot", GAS_RATE, "Species net production rates of the last evaluation."),
        ]),
        ("Pickling and copying", list(_DUNDERS)),
    ]


def _flame(opt):
    use = [
        ("__init__", "", "A solver for phase, converged flame, soot grid [m] and initialised "
         "CSootModel; soot starts at the model's floors."),
        ("solve", "", "Advances n_time_steps implicit pseudo-time steps of size dt, printing one "
         "'Time Step = ' line each; a second call continues."),
        ("update_wdot_correction", "", "Fills wdot_correction_soot with the gas-species rates "
         "due to soot at every grid point."),
        ("solve_TDMA", "", "Solves a tridiagonal system: sub-diagonal a, diagonal b, "
         "super-diagonal c, right-hand side d."),
        ("gas", "", "The phase object, set to each grid point's state."),
        ("flame", "", "The converged flame (grid, T, density, viscosity, velocity, X)."),
        ("soot_model", "", "The initialised CSootModel."),
        ("n_time_steps", "", "Pseudo-time steps per solve() (default 2000)."),
        ("dt", "s", "Pseudo-time step (default 1e-5)."),
        ("mdot_left", "kg/(m2 s)", "Mass flux closing the left (burner) boundary; set it to the "
         "burner mass flux before solve()."),
        ("mdot_right", "kg/(m2 s)", "Mass flux closing the right boundary under the flux "
         "condition."),
        ("boundary_type_right", "", "Right boundary: 0 (inlet) flux condition, any other value "
         "(outlet) outflow."),
        ("P", "Pa", "Pressure (default 101325)."),
        ("grid", "m", "The soot grid."),
        ("n_points", "", "Number of grid points."),
        ("n_species", "", "Number of gas species."),
    ]
    profiles = [
        ("z", "m", "Grid positions."),
        ("dz", "m", "Backward grid spacing (dz[0] = dz[1])."),
        ("T", "K", "Gas temperature on the grid."),
        ("rho", "kg/m3", "Gas density on the grid."),
        ("mu", "Pa s", "Gas viscosity on the grid."),
        ("u_gas", "m/s", "Gas velocity on the grid."),
        ("u_th", "m/s", "Thermophoretic drift velocity of soot."),
        ("u", "m/s", "Soot velocity u_gas + u_th."),
        ("X", "-", "Gas mole fractions, species by grid point."),
        ("wdot_correction_soot", GAS_RATE, "Gas-species rates due to soot, species by grid "
         "point."),
    ]
    soot = []
    for v in SOOT_VARS:
        soot += [(f"{v}_n", "mol/kg", f"{VAR_WORDS[v].capitalize()} per kg of gas along the "
                  f"grid, current level (the result after solve())."),
                 (f"{v}_n1", "mol/kg", f"{v} at the new time level.")]
    sides = (("_left", "left boundary"), ("_right", "right boundary under the flux condition")) \
        if opt else (("", "flux boundary"),)
    for v in SOOT_VARS:
        for suffix, where in sides:
            soot.append((f"{v}_in{suffix}", "mol/kg", f"{v} of the gas entering through the "
                         f"{where} (default the floor)."))
    system = [(f"B_{v}", "mol/(m3 s)", f"Right-hand side of the {v} system (flux boundary "
               f"rows mol/(m2 s)).") for v in SOOT_VARS]
    if opt:
        system += [("diag", "kg/(m3 s)", "Main diagonal of the implicit system (flux boundary "
                    "rows kg/(m2 s))."),
                   ("upper", "kg/(m3 s)", "Super-diagonal of the implicit system."),
                   ("lower", "kg/(m3 s)", "Sub-diagonal of the implicit system.")]
    else:
        system.append(("A", "kg/(m3 s)", "Dense coefficient matrix of the implicit system; only "
                       "three diagonals used (flux boundary rows kg/(m2 s))."))
    return [("Use", use), ("Gas profiles", profiles), ("Soot profiles and inlet values", soot),
            ("Implicit system", system), ("Pickling and copying", list(_DUNDERS))]


TABLE = {
    "CSootModel": _soot_model(),
    "CSootGas": _soot_gas(),
    "CPFROde": _pfr(),
    "CFlameSolver": _flame(False),
    "CFlameSolverOpt": _flame(True),
}
CLASS_DOCS = _CLASS_DOCS

ENUM_DOCS = {
    "PAH_GROWTH_MODELS": "PAH growth models; selector names (PAH_growth_model_name): "
                         "reactive_dimerization = 'reactive_dimerization', self_collision = "
                         "'self_collision', self_collision_lump = 'self_collision_lump', "
                         "cross_linking = 'cross_linking', irrev_dimerization = "
                         "'irreversible_dimerization'.",
    "SOOT_COALES_TYPES": "Coalescence types; selector names (coalescence_type): no_coales = "
                         "'disabled', titania = 'titania', silica = 'silica', md_derived = "
                         "'md-derived', ctoh_based = 'CtoH-based'.",
    "VALIDATION_CASES": "Validation cases; selector names (validation): no_validation = "
                        "'no_validation', coagulation = 'coagulation'.",
    "VI": "Soot variables by number, for inception(), growth() etc.: N_agg 1, N_pri 2, "
          "C_tot 3, H_tot 4.",
    "boundary_type": "Right boundary of the flame solvers: inlet 0 (flux condition), "
                     "outlet 1 (outflow).",
}


def lookup():
    """{class: {member: (unit, meaning)}}; a member listed twice is an error."""
    out = {}
    for cls, sections in TABLE.items():
        seen = out.setdefault(cls, {})
        for _, rows in sections:
            for name, unit, meaning in rows:
                if name in seen:
                    raise ValueError(f"{cls}.{name} listed twice")
                seen[name] = (unit, meaning)
    return out


def docstring(unit: str, meaning: str) -> str:
    """The stub docstring of one member: its meaning, then its unit in brackets."""
    return f"{meaning} [{unit}]" if unit else meaning
