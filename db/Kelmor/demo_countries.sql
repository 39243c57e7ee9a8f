-- The demo shop's countries: those of its addresses and freight zones, and
-- Iceland, which nothing names yet (the master-data demo deletes it).
INSERT INTO COUNTRY (COUNTRYCODE, COUNTRYNAME) VALUES
  ('NL', 'Netherlands'),
  ('BE', 'Belgium'),
  ('LU', 'Luxembourg'),
  ('NO', 'Norway'),
  ('DE', 'Germany'),
  ('US', 'United States'),
  ('CA', 'Canada'),
  ('GB', 'United Kingdom'),
  ('IS', 'Iceland');
