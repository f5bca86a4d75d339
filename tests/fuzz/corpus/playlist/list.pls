[playlist]
File1=one.nsv
Title1=One
File2=two.nsv
NumberOfEntries=2
