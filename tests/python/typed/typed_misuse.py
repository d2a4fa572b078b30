"""Calls mypy must refuse: each line marked with an error comment must
draw an error holding the comment's text, and no other line may."""
import kelmar

site = kelmar.read_site(5)  # error: Argument 1 to "read_site" has incompatible type "int"
kelmar.simulate(site, seed="1")  # error: No overload variant of "simulate" matches argument types "Site", "str"
kelmar.simulate(site, years=30)  # error: No overload variant of "simulate" matches argument types "Site", "int"
label: str = site.Lat  # error: Incompatible types in assignment (expression has type "float", variable has type "str")
kelmar.check("weather.wed", years="50")  # error: Argument "years" to "check" has incompatible type "str"
kelmar.read_weather("weather.wed").year_begin = 1990  # error: Property "year_begin" defined in "Weather" is read-only
kelmar.estimate("weather.wed").av_Ta.shape = "12"  # error: Incompatible types in assignment
ensemble = kelmar.simulate(site, summary=True)
ensemble.seed = "1"  # error: Incompatible types in assignment (expression has type "str", variable has type "int")
one: kelmar.Result = kelmar.simulate(site, replicates=3)  # error: Incompatible types in assignment
