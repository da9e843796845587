% Function source file of the function-file test, found through "+readfn".
function r = passthrough(x)
r = x;
