% Constructor of the class counter, found through "+readfn".
function c = counter(n)
s.n = n;
c = class(s, 'counter');
