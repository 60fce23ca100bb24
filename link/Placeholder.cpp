// Placeholder until this subsystem's first source lands; delete it then.
